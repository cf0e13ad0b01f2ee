#include "operation_history.h"

#include <QAbstractButton>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTabWidget>

#include "result_code_text.h"

namespace monitor {
namespace {

QString TimeText(const QDateTime& time) {
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

// Whether a spreadsheet would take the cell for a formula: it begins with =, +, - or @ (or a tab
// or carriage return before one) and is no plain number such as the result code -1.
bool ReadsAsFormula(const QString& field) {
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+(\\.[0-9]+)?$"));
    static const QString starters = QStringLiteral("=+-@\t\r");
    return !field.isEmpty() && starters.contains(field.front()) && !number.match(field).hasMatch();
}

// A cell as the spreadsheet conventions want it: quoted when it holds a separator, a quote or a
// line break; a cell that would read as a formula gets a leading apostrophe, so that it shows as
// the text it is, and is quoted too.
QString CsvField(const QString& field) {
    const bool formula = ReadsAsFormula(field);
    if (!formula && !field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) &&
        !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString quoted = formula ? QLatin1Char('\'') + field : field;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString CaptionOf(const QAbstractButton* button) {
    QString caption = button->text();
    caption.remove(QLatin1Char('&'));
    return caption.isEmpty() ? button->accessibleName() : caption;
}

}  // namespace

QStringList HistoryTexts(const HistoryEntry& entry) {
    return {TimeText(entry.time),
            entry.page,
            entry.operation,
            entry.result ? QString::number(*entry.result) : QString(),
            QString::fromLatin1(padlogic::FailureReasonText(entry.failure)),
            entry.text};
}

QString HistoryCsv(const std::deque<HistoryEntry>& entries) {
    QString text = QStringLiteral("time,page,operation,result code,reason,text\r\n");
    for (const HistoryEntry& entry : entries) {
        QStringList quoted;
        for (const QString& field : HistoryTexts(entry)) quoted << CsvField(field);
        text += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return text;
}

QString HistoryJsonLines(const std::deque<HistoryEntry>& entries) {
    QString text;
    for (const HistoryEntry& entry : entries) {
        QJsonObject object{{"time", TimeText(entry.time)},
                           {"page", entry.page},
                           {"operation", entry.operation},
                           {"result", entry.result ? QJsonValue(*entry.result) : QJsonValue()},
                           {"reason", entry.failure != LUMENORD_FAILURE_NONE
                                          ? QJsonValue(padlogic::FailureReasonText(entry.failure))
                                          : QJsonValue()},
                           {"text", entry.text}};
        text += QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) +
                QLatin1Char('\n');
    }
    return text;
}

OperationHistory::OperationHistory(shell::Shell& shell, QTabWidget* pages, QObject* parent)
    : QObject(parent), m_shell(shell), m_pages(pages) {
    m_shell.SetHistoryObserver([this](const shell::Shell::StatusRecord& record) { Take(record); });
}

OperationHistory::~OperationHistory() { m_shell.SetHistoryObserver(nullptr); }

void OperationHistory::Clear() {
    m_entries.clear();
    m_lastOperation.reset();
    emit cleared();
}

QString OperationHistory::PageCaption(int index) const {
    if (!m_pages) return {};
    QString page = m_pages->tabText(index);
    page.remove(QLatin1Char('&'));
    return page;
}

QString OperationHistory::PageOf(const QWidget* control) const {
    if (!m_pages) return {};
    for (const QWidget* widget = control; widget != nullptr; widget = widget->parentWidget()) {
        const int index = m_pages->indexOf(const_cast<QWidget*>(widget));
        if (index >= 0) return PageCaption(index);
    }
    return PageCaption(m_pages->currentIndex());
}

void OperationHistory::Take(const shell::Shell::StatusRecord& record) {
    if (m_lastOperation == record.operation && !m_entries.empty()) {
        HistoryEntry& last = m_entries.back();
        last.time = QDateTime::currentDateTime();
        last.result = record.result;
        last.text = record.text;
        last.failure = record.failure;
        emit entryReplaced(static_cast<int>(m_entries.size()) - 1);
        return;
    }
    // The operation is the one whose handler showed the line; a line shown outside any handler
    // is named by the control that has the focus.
    const QWidget* control = record.control ? record.control.data() : QApplication::focusWidget();
    QString operation = record.name;
    if (operation.isEmpty() && control != nullptr) {
        const auto* button = qobject_cast<const QAbstractButton*>(control);
        operation = button != nullptr ? CaptionOf(button) : control->accessibleName();
    }
    m_lastOperation = record.operation;
    m_entries.push_back({QDateTime::currentDateTime(), PageOf(control), operation, record.result,
                         record.text, record.failure});
    if (m_entries.size() > kCapacity) {
        m_entries.pop_front();
        emit oldestDropped();
    }
    emit entryAdded(static_cast<int>(m_entries.size()) - 1);
}

}  // namespace monitor
