#include "monitor_window.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>
#include <iterator>
#include <set>

namespace monitor {
namespace {

constexpr int kBytesColumn = 4;
// Column widths that show whole texts at the window's size; the bytes take the rest.
constexpr int kFrameColumnWidths[] = {165, 70, 170, 55, 0, 50, 150, 100};
constexpr int kHistoryColumnWidths[] = {165, 120, 180, 85, 230};

void MakeCompact(QTableView* view) {
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the table for the buttons below; the arrows move between cells.
    view->setTabKeyNavigation(false);
    view->setWordWrap(false);
    view->verticalHeader()->setVisible(false);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
}
const QStringList kHistoryTitles = {"Time", "Page", "Operation", "Result code", "Reason", "Text"};

QString DefaultChooseFile(QWidget* parent, const QString& caption, const QString& filter) {
    return QFileDialog::getSaveFileName(parent, caption, QString(), filter);
}

QPushButton* MakeButton(const char* name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    return button;
}

}  // namespace

int FrameTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_log.Frames().size());
}

int FrameTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kColumnTitles.size());
}

QVariant FrameTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    if (role == Qt::ToolTipRole && index.column() != kBytesColumn) return {};
    const FrameRecord& frame = m_log.Frames()[static_cast<std::size_t>(index.row())];
    return ColumnTexts(frame, m_unmasked).value(index.column());
}

QVariant FrameTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return kColumnTitles.value(section);
}

void FrameTableModel::Append(std::deque<FrameRecord> frames, std::size_t lost) {
    m_log.CountLost(lost);
    for (FrameRecord& frame : frames) {
        if (m_log.Full()) {
            beginRemoveRows({}, 0, 0);
            m_log.DropOldest();
            endRemoveRows();
        }
        const int row = rowCount();
        beginInsertRows({}, row, row);
        m_log.Add(std::move(frame));
        endInsertRows();
    }
}

void FrameTableModel::Clear() {
    beginResetModel();
    m_log.Clear();
    endResetModel();
}

void FrameTableModel::SetUnmasked(bool unmasked) {
    if (m_unmasked == unmasked) return;
    m_unmasked = unmasked;
    if (rowCount() > 0)
        emit dataChanged(index(0, kBytesColumn), index(rowCount() - 1, kBytesColumn));
}

namespace {

// A plain widget counts as a filler for accessibility; the monitor is a window of its own.
QAccessibleInterface* MonitorAccessible(const QString& className, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr ||
        className != QLatin1String(MonitorWindow::staticMetaObject.className()))
        return nullptr;
    return new QAccessibleWidget(widget, QAccessible::Window);
}

}  // namespace

MonitorWindow::MonitorWindow(shell::Shell& shell, QTabWidget* pages, QWidget* parent)
    : QWidget(parent, Qt::Window) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(MonitorAccessible);
        return true;
    }();
    (void)factoryInstalled;
    setObjectName("FrameMonitor");
    setWindowTitle("Frame monitor");
    resize(1180, 400);
    m_chooseFile = [this](const QString& caption, const QString& filter) {
        return DefaultChooseFile(this, caption, filter);
    };
    m_frameModel = new FrameTableModel(this);
    m_history = new OperationHistory(shell, pages, this);

    auto* tabs = new QTabWidget(this);
    tabs->setObjectName("MonitorTabs");
    tabs->addTab(BuildFramesTab(), "Frames");
    tabs->addTab(BuildHistoryTab(), "Operation history");
    // The certification lives here rather than in the main window, whose layout is fixed.
    m_certify = new CertifyPanel(shell, this);
    tabs->addTab(m_certify, "Certification");
    MonitorNotice = new QLabel(this);
    MonitorNotice->setObjectName("MonitorNotice");
    // A screen reader hears what the notice says; its name is that text.
    MonitorNotice->setAccessibleDescription("Monitor notice");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addWidget(MonitorNotice);

    connect(&m_feed, &FrameFeed::framesPending, this, &MonitorWindow::TakeFrames,
            Qt::QueuedConnection);
    // Escape and F12 (the toggle's key in the main window) put the monitor away.
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::Key_F12)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &MonitorWindow::PutAway);
}

void MonitorWindow::PutAway() {
    hide();
    if (QWidget* main = parentWidget()) main->activateWindow();
}

QWidget* MonitorWindow::BuildFramesTab() {
    auto* tab = new QWidget(this);
    FramesView = new QTableView(tab);
    FramesView->setObjectName("FramesView");
    FramesView->setAccessibleName("Frames");
    FramesView->setModel(m_frameModel);
    MakeCompact(FramesView);
    for (int column = 0; column < static_cast<int>(std::size(kFrameColumnWidths)); ++column)
        FramesView->setColumnWidth(column, kFrameColumnWidths[column]);
    FramesView->horizontalHeader()->setSectionResizeMode(kBytesColumn, QHeaderView::Stretch);
    auto* chkShowKeys = new QCheckBox("Show key material", tab);
    chkShowKeys->setObjectName("chkShowKeys");
    QPushButton* btCopyFrames = MakeButton("btCopyFrames", "Copy", tab);
    QPushButton* btClearFrames = MakeButton("btClearFrames", "Clear", tab);
    QPushButton* btSaveFrames = MakeButton("btSaveFrames", "Save as text...", tab);
    connect(chkShowKeys, &QCheckBox::toggled, m_frameModel, &FrameTableModel::SetUnmasked);
    connect(btCopyFrames, &QPushButton::clicked, this, &MonitorWindow::CopyFrames);
    connect(btClearFrames, &QPushButton::clicked, this, [this] {
        m_frameModel->Clear();
        MonitorNotice->clear();
    });
    connect(btSaveFrames, &QPushButton::clicked, this, &MonitorWindow::SaveFrames);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(chkShowKeys);
    buttons->addStretch();
    buttons->addWidget(btCopyFrames);
    buttons->addWidget(btClearFrames);
    buttons->addWidget(btSaveFrames);
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(FramesView);
    layout->addLayout(buttons);
    return tab;
}

QWidget* MonitorWindow::BuildHistoryTab() {
    auto* tab = new QWidget(this);
    HistoryView = new QTableWidget(0, static_cast<int>(kHistoryTitles.size()), tab);
    HistoryView->setObjectName("HistoryView");
    HistoryView->setAccessibleName("Operation history");
    HistoryView->setHorizontalHeaderLabels(kHistoryTitles);
    MakeCompact(HistoryView);
    for (int column = 0; column < static_cast<int>(std::size(kHistoryColumnWidths)); ++column)
        HistoryView->setColumnWidth(column, kHistoryColumnWidths[column]);
    HistoryView->horizontalHeader()->setStretchLastSection(true);
    QPushButton* btSaveHistoryCsv = MakeButton("btSaveHistoryCsv", "Save as CSV...", tab);
    QPushButton* btSaveHistoryJson = MakeButton("btSaveHistoryJson", "Save as JSON Lines...", tab);
    QPushButton* btClearHistory = MakeButton("btClearHistory", "Clear", tab);
    connect(btSaveHistoryCsv, &QPushButton::clicked, this, [this] { SaveHistory(true); });
    connect(btSaveHistoryJson, &QPushButton::clicked, this, [this] { SaveHistory(false); });
    connect(btClearHistory, &QPushButton::clicked, m_history, &OperationHistory::Clear);
    connect(m_history, &OperationHistory::entryAdded, this, &MonitorWindow::AddHistoryRow);
    connect(m_history, &OperationHistory::entryReplaced, this, &MonitorWindow::FillHistoryRow);
    connect(m_history, &OperationHistory::oldestDropped, this,
            [this] { HistoryView->removeRow(0); });
    connect(m_history, &OperationHistory::cleared, this, [this] { HistoryView->setRowCount(0); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btClearHistory);
    buttons->addWidget(btSaveHistoryCsv);
    buttons->addWidget(btSaveHistoryJson);
    auto* layout = new QVBoxLayout(tab);
    layout->addWidget(HistoryView);
    layout->addLayout(buttons);
    return tab;
}

void MonitorWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The monitor opened from the keyboard takes the keyboard.
    raise();
    activateWindow();
    emit visibilityChanged(true);
}

void MonitorWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit visibilityChanged(false);
}

void MonitorWindow::TakeFrames() {
    std::size_t lost = 0;
    std::deque<FrameRecord> frames = m_feed.TakePending(&lost);
    if (frames.empty() && lost == 0) return;
    const bool atBottom =
        FramesView->verticalScrollBar()->value() == FramesView->verticalScrollBar()->maximum();
    m_frameModel->Append(std::move(frames), lost);
    if (atBottom) FramesView->scrollToBottom();
    ShowDropped();
}

void MonitorWindow::ShowDropped() {
    const std::size_t dropped = m_frameModel->Log().Dropped();
    if (dropped > 0)
        MonitorNotice->setText(QString("%1 older frames are no longer listed").arg(dropped));
}

void MonitorWindow::CopyFrames() {
    const FrameLog& log = m_frameModel->Log();
    std::set<int> rows;
    for (const QModelIndex& index : FramesView->selectionModel()->selectedRows())
        rows.insert(index.row());
    std::deque<FrameRecord> chosen;
    if (rows.empty()) {
        chosen = log.Frames();
    } else {
        for (int row : rows) chosen.push_back(log.Frames()[static_cast<std::size_t>(row)]);
    }
    QApplication::clipboard()->setText(FramesText(chosen, m_frameModel->Unmasked()));
    MonitorNotice->setText(QString("%1 frames copied").arg(chosen.size()));
}

void MonitorWindow::SaveFrames() {
    SaveText("Save the frames", "Text files (*.txt)",
             FramesText(m_frameModel->Log().Frames(), m_frameModel->Unmasked()));
}

void MonitorWindow::SaveHistory(bool asCsv) {
    const std::deque<HistoryEntry>& entries = m_history->Entries();
    if (asCsv) {
        SaveText("Save the operation history", "CSV files (*.csv)", HistoryCsv(entries));
    } else {
        SaveText("Save the operation history", "JSON Lines files (*.jsonl)",
                 HistoryJsonLines(entries));
    }
}

bool MonitorWindow::SaveText(const QString& caption, const QString& filter, const QString& text) {
    const QString path = m_chooseFile(caption, filter);
    if (path.isEmpty()) return false;
    // Only a regular file is replaced: a link is not followed, a FIFO or device not opened.
    const QFileInfo target(path);
    if (target.isSymLink() || (target.exists() && !target.isFile())) {
        MonitorNotice->setText(QString("not saved: %1 is no regular file").arg(path));
        return false;
    }
    // Written beside the target and renamed over it: a failed write leaves the old file.
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    const bool saved =
        file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!saved) {
        MonitorNotice->setText(QString("could not save %1: %2").arg(path, file.errorString()));
        return false;
    }
    MonitorNotice->setText(QString("saved %1").arg(path));
    return true;
}

void MonitorWindow::AddHistoryRow(int row) {
    HistoryView->insertRow(row);
    FillHistoryRow(row);
    HistoryView->scrollToBottom();
}

void MonitorWindow::FillHistoryRow(int row) {
    const QStringList texts = HistoryTexts(m_history->Entries()[static_cast<std::size_t>(row)]);
    for (int column = 0; column < texts.size(); ++column)
        HistoryView->setItem(row, column, new QTableWidgetItem(texts[column]));
}

}  // namespace monitor
