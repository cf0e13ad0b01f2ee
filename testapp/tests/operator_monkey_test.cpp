// The operator at his worst: thousands of random actions on every page against the simulated
// pad (any text in any field: over-long, non-hex, empty, multi-byte; random list choices; random
// clicks on the enabled buttons; random page changes). Nothing may crash (AddressSanitizer),
// every click on an operation button ends with exactly one final status message or a message
// box, and no operation button stays disabled once an operation has finished. An entry on the pad
// that the scripted keys do not finish is cancelled on the pad, as the operator at the pad would.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <random>

#include "pad_rig.h"

using namespace testsupport;

namespace {

// Messages an operation shows on its way to its outcome (prompts while it waits for the pad, a
// first step done); they are not final messages.
bool IsStepMessage(const QString& text) {
    return text.endsWith(",please wait...") || text == "get challenge succeed" ||
           text == "Please input the clear text key from EPP" || text == kEntryStarted;
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
    // No serial device to list: mapping com1 to one of this machine's ports would take the pad
    // away from every later action.
    const QTemporaryDir noDevices;
    qputenv("LUMENORD_DEVICE_ROOT", noDevices.path().toLocal8Bit());
    padsim::PadOptions options;
    options.scriptedKeys = "1234\r";  // every entry the monkey opens ends by itself
    options.scriptedKeyDelay = std::chrono::milliseconds(5);
    PadRig rig(std::move(options));
    rig.window->show();
    // Final (non-empty, non-prompt) messages since the counter was reset.
    QStringList finalMessages;
    rig.shared().SetStatusObserver([&](const QString& text) {
        if (!text.isEmpty() && !IsStepMessage(text)) finalMessages << text;
    });
    QVERIFY(rig.openPort());

    auto* tabs = rig.w()->findChild<QTabWidget*>();
    QVERIFY(tabs != nullptr);
    std::mt19937 random(static_cast<unsigned>(qEnvironmentVariableIntValue("MONKEY_SEED") + 731));
    const int actions = qEnvironmentVariableIsSet("MONKEY_ACTIONS")
                            ? qEnvironmentVariableIntValue("MONKEY_ACTIONS")
                            : 4000;
    int clicks = 0, texts = 0, choices = 0, pages = 0, dialogs = 0, cancels = 0;

    // A click still running after a while waits in an entry on the pad: Escape on the pad ends
    // it (the timer runs inside the click's event handling). One that Escape does not end is a
    // finding: it is ended as another operation would end it, and the run fails.
    QElapsedTimer clickTime;
    QTimer cancelOnPad;
    bool stuck = false;
    QObject::connect(&cancelOnPad, &QTimer::timeout, [&] {
        if (!clickTime.isValid() || clickTime.elapsed() < 300) return;
        if (clickTime.elapsed() > 10000) {
            stuck = true;
            rig.shared().Begin(shell::Operation::Standard());
            return;
        }
        rig.pad->PressKeys("\x1b");
        ++cancels;
    });
    cancelOnPad.start(100);
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
                // Any button of the page; those of the operation scheme call the driver.
                auto buttons = Visible<QPushButton>(page);
                if (buttons.empty()) break;
                QPushButton* button = buttons[random() % buttons.size()];
                const QString name = button->objectName();
                const auto& scheme = rig.shared().OperationButtons();
                const bool operation =
                    std::find(scheme.begin(), scheme.end(), button) != scheme.end();
                finalMessages.clear();
                const std::size_t boxes = rig.dialogs.requests.size();
                clickTime.start();
                QTest::mouseClick(button, Qt::LeftButton);
                const qint64 clickMs = clickTime.elapsed();
                clickTime.invalidate();
                QVERIFY2(!stuck, qPrintable(QString("%1 (action %2) still waited after %3 ms")
                                                .arg(name)
                                                .arg(action)
                                                .arg(clickMs)));
                const int shownBoxes = static_cast<int>(rig.dialogs.requests.size() - boxes);
                dialogs += shownBoxes;
                ++clicks;
                // Other buttons (clearing fields, the pad entry's own button) show at most one.
                QVERIFY2(
                    (finalMessages.size() == 1 && !IsStepMessage(rig.status())) ||
                        (finalMessages.isEmpty() && (shownBoxes >= 1 || !operation)),
                    qPrintable(QString("%1 (action %2) showed the final messages '%3' and %4 boxes")
                                   .arg(name)
                                   .arg(action)
                                   .arg(finalMessages.join("', '"))
                                   .arg(shownBoxes)));
                // The operation has finished: no button stays in the busy state. With the port
                // closed only "Open Com port" needs to be back.
                const bool closed = rig.control<QPushButton>("btOpenCom")->isEnabled();
                for (const auto& [buttonName, enabledWhenOpen] : OperationButtonsOpenState()) {
                    if (closed || !enabledWhenOpen) continue;
                    // While the clear-text reader runs, "Open Pinpad" stays off until it is closed.
                    if (std::string(buttonName) == "OpenKeyBord" &&
                        rig.shared().ReaderThreadExists())
                        continue;
                    // A combination code typed on the pad offers "Manually input Key" instead.
                    if (std::string(buttonName) == "btDownloadKey" &&
                        rig.control<QPushButton>("Button3")->isEnabled())
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
    rig.shared().SetStatusObserver(nullptr);
    qInfo(
        "monkey: %d actions: %d clicks, %d texts, %d list choices, %d page changes, %d boxes, "
        "%d Escapes on the pad",
        actions, clicks, texts, choices, pages, dialogs, cancels);
}

QTEST_MAIN(OperatorMonkeyTest)
#include "operator_monkey_test.moc"
