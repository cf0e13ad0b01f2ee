// The operation history: the final status line of every operation with its time, page,
// operation, result code and the reason the driver gave for a failure, and its CSV and JSON
// Lines forms.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <deque>
#include <optional>

#include "shell.h"

class QTabWidget;

namespace monitor {

struct HistoryEntry {
    QDateTime time;
    QString page;
    QString operation;
    std::optional<int> result;  // none when the line reports no driver result (a refusal)
    QString text;
    // Why the driver call behind the result failed (a LUMENORD_FAILURE_ code).
    int failure = LUMENORD_FAILURE_NONE;
};

// The fields of an entry as the table and the CSV show them: time, page, operation, result code
// (empty when none), reason (its text; empty when none) and text.
QStringList HistoryTexts(const HistoryEntry& entry);
// Title line and one line per entry; fields quoted where they hold a comma, quote or line break.
QString HistoryCsv(const std::deque<HistoryEntry>& entries);
// One JSON object per line: time, page, operation, result (null when none), reason (null when
// none), text.
QString HistoryJsonLines(const std::deque<HistoryEntry>& entries);

// Keeps the history of the window whose pages sit in `pages`: every status line the shell
// shows; a later line of the same operation replaces the earlier one, so that each operation
// keeps its final line. An operation is named by the control whose handler ran it (the button's
// caption) and the page that holds that control.
class OperationHistory : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kCapacity = 10000;

    OperationHistory(shell::Shell& shell, QTabWidget* pages, QObject* parent = nullptr);
    ~OperationHistory() override;

    const std::deque<HistoryEntry>& Entries() const { return m_entries; }
    void Clear();

signals:
    // A new entry was appended at `row`, or the entry at `row` was replaced.
    void entryAdded(int row);
    void entryReplaced(int row);
    // The oldest entry was let go to stay within kCapacity.
    void oldestDropped();
    void cleared();

private:
    void Take(const shell::Shell::StatusRecord& record);
    QString PageCaption(int index) const;
    // The caption of the page holding `control`; the page shown when none does.
    QString PageOf(const QWidget* control) const;

    shell::Shell& m_shell;
    QPointer<QTabWidget> m_pages;
    // A deque: the oldest goes at the cap without moving the rest.
    std::deque<HistoryEntry> m_entries;
    // Which handler run the last entry belongs to.
    std::optional<unsigned long> m_lastOperation;
};

}  // namespace monitor
