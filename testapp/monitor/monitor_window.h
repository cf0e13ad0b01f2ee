// The frame monitor window: the frames the driver exchanges with the pad and the operation
// history, each with copy, clear and save. A window of its own, so the pages keep their layout.
#pragma once

#include <QAbstractTableModel>
#include <QLabel>
#include <QTableView>
#include <QTableWidget>
#include <QWidget>
#include <functional>

#include "certify_panel.h"
#include "frame_feed.h"
#include "frame_log.h"
#include "operation_history.h"

class QTabWidget;

namespace monitor {

// The frame log as table rows, masked or not.
class FrameTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit FrameTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void Append(std::deque<FrameRecord> frames, std::size_t lost);
    void Clear();
    void SetUnmasked(bool unmasked);
    bool Unmasked() const { return m_unmasked; }
    const FrameLog& Log() const { return m_log; }

private:
    FrameLog m_log;
    bool m_unmasked = false;
};

class MonitorWindow : public QWidget {
    Q_OBJECT
public:
    // Asks where to save; an empty answer saves nothing. Replaceable so tests can answer it.
    using FileChooser = std::function<QString(const QString& caption, const QString& filter)>;

    MonitorWindow(shell::Shell& shell, QTabWidget* pages, QWidget* parent = nullptr);

    FrameFeed* Feed() { return &m_feed; }
    const FrameTableModel& Frames() const { return *m_frameModel; }
    const OperationHistory& History() const { return *m_history; }
    CertifyPanel* Certification() const { return m_certify; }
    void SetFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

signals:
    void visibilityChanged(bool visible);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Hides the monitor and gives the keyboard back to the main window.
    void PutAway();
    QWidget* BuildFramesTab();
    QWidget* BuildHistoryTab();
    void TakeFrames();
    void CopyFrames();
    void SaveFrames();
    void SaveHistory(bool asCsv);
    void AddHistoryRow(int row);
    void FillHistoryRow(int row);
    void ShowDropped();
    bool SaveText(const QString& caption, const QString& filter, const QString& text);

    FrameFeed m_feed;
    FrameTableModel* m_frameModel = nullptr;
    OperationHistory* m_history = nullptr;
    CertifyPanel* m_certify = nullptr;
    QTableView* FramesView = nullptr;
    QTableWidget* HistoryView = nullptr;
    QLabel* MonitorNotice = nullptr;
    FileChooser m_chooseFile;
};

}  // namespace monitor
