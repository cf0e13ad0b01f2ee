// The operator at his worst: thousands of random actions on every page against the simulated
// pad (any text in any field: over-long, non-hex, empty, multi-byte; random list choices; random
// clicks on the enabled buttons; random page changes). Nothing may crash (AddressSanitizer),
// every click on an operation button ends with exactly one final status message or a message
// box, and no operation button stays disabled once an operation has finished.
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <random>

#include "pad_rig.h"

using namespace testsupport;

namespace {

// Non-empty texts the status line was given since the counter was reset.
int g_statusMessages = 0;
QLabel* g_statusPanel = nullptr;

void CountStatusMessages(QAccessibleEvent* event) {
    if (event->type() == QAccessible::NameChanged && event->object() == g_statusPanel &&
        !g_statusPanel->text().isEmpty())
        ++g_statusMessages;
}

QString RandomText(std::mt19937& random) {
    static const QStringList pieces = {"",
                                       "0",
                                       "30",
                                       "0123456789ABCDEF",
                                       "0123456789ABCDEFFEDCBA9876543210",
                                       "XYZ!",
                                       "12G4",
                                       QString::fromUtf8("\xc3\xa9\xe2\x82\xac\xf0\x9f\x94\x91"),
                                       " ",
                                       "-1",
                                       "99999999999999999999",
                                       "com1",
                                       "9600",
                                       "\t\n"};
    QString text;
    const int parts = static_cast<int>(random() % 4);
    for (int i = 0; i < parts; ++i) text += pieces[static_cast<int>(random() % pieces.size())];
    if (random() % 8 == 0) text = QString(static_cast<int>(random() % 5000), QChar('F'));
    return text;
}

template <typename W>
std::vector<W*> Visible(QWidget* window) {
    std::vector<W*> found;
    for (W* w : window->findChildren<W*>())
        if (w->isVisibleTo(window) && w->isEnabled() && !w->objectName().isEmpty())
            found.push_back(w);
    return found;
}

}  // namespace

class OperatorMonkeyTest : public QObject {
    Q_OBJECT
private slots:
    void randomActionsOnEveryPage();
};

void OperatorMonkeyTest::randomActionsOnEveryPage() {
    padsim::PadOptions options;
    options.scriptedKeys = "1234\r";  // every entry the monkey opens ends by itself
    options.scriptedKeyDelay = std::chrono::milliseconds(5);
    PadRig rig(std::move(options));
    rig.window->show();
    g_statusPanel = rig.control<QLabel>("StatusPanel1");
    QAccessible::installUpdateHandler(&CountStatusMessages);
    QVERIFY(rig.openPort());

    auto* tabs = rig.w()->findChild<QTabWidget*>();
    QVERIFY(tabs != nullptr);
    std::mt19937 random(static_cast<unsigned>(qEnvironmentVariableIntValue("MONKEY_SEED") + 731));
    const int actions = qEnvironmentVariableIsSet("MONKEY_ACTIONS")
                            ? qEnvironmentVariableIntValue("MONKEY_ACTIONS")
                            : 1000;
    int clicks = 0, texts = 0, choices = 0, pages = 0, dialogs = 0;
    for (int action = 0; action < actions; ++action) {
        QWidget* page = tabs->currentWidget();
        switch (random() % 8) {
            case 0:
                tabs->setCurrentIndex(static_cast<int>(random() % tabs->count()));
                ++pages;
                break;
            case 1:
            case 2: {
                auto edits = Visible<QLineEdit>(page);
                auto memos = Visible<QPlainTextEdit>(page);
                if (!edits.empty() && random() % 3 != 0) {
                    QLineEdit* edit = edits[random() % edits.size()];
                    if (random() % 4 == 0) {
                        edit->clear();
                        // Typed keys: the test library types printable ASCII only.
                        QString typed = RandomText(random).left(40);
                        typed.removeIf(
                            [](QChar c) { return c.unicode() < 0x20 || c.unicode() > 0x7E; });
                        QTest::keyClicks(edit, typed);
                    } else {
                        edit->setText(RandomText(random));
                    }
                    ++texts;
                } else if (!memos.empty()) {
                    memos[random() % memos.size()]->setPlainText(RandomText(random));
                    ++texts;
                }
                break;
            }
            case 3: {
                auto combos = Visible<QComboBox>(page);
                if (combos.empty()) break;
                QComboBox* combo = combos[random() % combos.size()];
                if (combo->count() > 0)
                    combo->setCurrentIndex(static_cast<int>(random() % combo->count()));
                if (combo->isEditable() && random() % 3 == 0)
                    combo->setEditText(RandomText(random));
                ++choices;
                break;
            }
            default: {
                std::vector<QPushButton*> buttons;
                for (const auto& b : rig.shared().OperationButtons())
                    if (b && b->isVisibleTo(rig.w()) && b->isEnabled() && page->isAncestorOf(b))
                        buttons.push_back(b);
                if (buttons.empty()) break;
                QPushButton* button = buttons[random() % buttons.size()];
                const QString name = button->objectName();
                g_statusPanel->setText("");
                g_statusMessages = 0;
                const std::size_t boxes = rig.dialogs.requests.size();
                QTest::mouseClick(button, Qt::LeftButton);
                const int shownBoxes = static_cast<int>(rig.dialogs.requests.size() - boxes);
                dialogs += shownBoxes;
                ++clicks;
                QVERIFY2(
                    !rig.status().isEmpty() || shownBoxes >= 1,
                    qPrintable(
                        QString("%1 (action %2) ended without a message").arg(name).arg(action)));
                QVERIFY2(g_statusMessages <= 1,
                         qPrintable(QString("%1 (action %2) showed %3 status messages: last '%4'")
                                        .arg(name)
                                        .arg(action)
                                        .arg(g_statusMessages)
                                        .arg(rig.status())));
                // The operation has finished: no button stays in the busy state. With the port
                // closed only "Open Com port" needs to be back.
                const bool closed = rig.control<QPushButton>("btOpenCom")->isEnabled();
                for (const auto& [buttonName, enabledWhenOpen] : OperationButtonsOpenState()) {
                    if (closed || !enabledWhenOpen) continue;
                    // While the clear-text reader runs, "Open Pinpad" stays off until it is closed.
                    if (std::string(buttonName) == "OpenKeyBord" &&
                        rig.shared().readerThread.joinable())
                        continue;
                    QVERIFY2(
                        rig.control<QPushButton>(buttonName)->isEnabled(),
                        qPrintable(QString("%1 left disabled after %2 (action %3), status '%4'")
                                       .arg(buttonName, name)
                                       .arg(action)
                                       .arg(rig.status())));
                }
                if (closed && random() % 2 == 0) rig.openPort();
                break;
            }
        }
    }
    QAccessible::installUpdateHandler(nullptr);
    qInfo("monkey: %d actions: %d clicks, %d texts, %d list choices, %d page changes, %d boxes",
          actions, clicks, texts, choices, pages, dialogs);
}

QTEST_MAIN(OperatorMonkeyTest)
#include "operator_monkey_test.moc"
