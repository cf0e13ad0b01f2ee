#include "shell.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFocusEvent>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <system_error>
#include <utility>

#include "result_text.h"
#include "thread_name.h"

namespace shell {
namespace {

using namespace std::chrono_literals;

// How long the window thread waits for the reader to leave the driver; one read of the reader
// lasts a little over a second.
constexpr auto kReaderDeadline = 5s;
constexpr auto kPumpSlice = 5ms;

bool OnWindowThread() {
    return QCoreApplication::instance() != nullptr &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

void ProcessPendingEvents() {
    if (OnWindowThread()) QCoreApplication::processEvents();
}

// Runs the window thread's event loop for `duration`, so it waits without spinning.
void PumpFor(std::chrono::steady_clock::duration duration) {
    if (!OnWindowThread()) return;
    QEventLoop loop;
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(duration), &loop,
                       &QEventLoop::quit);
    loop.exec();
}

}  // namespace

thread_local bool Shell::t_inDriverCall = false;
thread_local int Shell::t_lastCallResult = 0;
thread_local int Shell::t_lastCallFailure = LUMENORD_FAILURE_NONE;

// Holds the shell window's keys back while an operation runs, so that they do not land where
// disabling the pressed button moved the focus; notes a focus the operator moved with the mouse
// while a handler runs.
class KeyHold : public QObject {
public:
    explicit KeyHold(Shell& shell) : m_shell(shell) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::ShortcutOverride:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
                if (!m_shell.HoldsKeys() || !InShellWindow(watched)) return false;
                // An accepted override keeps shortcuts and mnemonics from firing as well.
                event->accept();
                return true;
            case QEvent::FocusIn:
                if (m_shell.m_scope.run != 0 &&
                    static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason &&
                    InShellWindow(watched))
                    m_shell.m_scope.focusMovedByOperator = true;
                return false;
            default:
                return false;
        }
    }

private:
    bool InShellWindow(QObject* watched) const {
        const auto* widget = qobject_cast<QWidget*>(watched);
        return widget != nullptr && m_shell.m_statusPanel &&
               widget->window() == m_shell.m_statusPanel->window();
    }

    Shell& m_shell;
};

Shell::Shell() : m_keyHold(std::make_unique<KeyHold>(*this)) {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->installEventFilter(m_keyHold.get());
}

Shell::~Shell() { StopReaderThread(); }

void Shell::EndPadInput() {
    MarkPadInputClosed();
    StopKeyLoops();
}

void Shell::Begin(const Operation& operation) {
    if (operation.control) m_scope.control = operation.control;
    if (!operation.name.isEmpty()) m_scope.name = operation.name;
    const OperationStart& start = operation.start;
    m_operationResult.reset();
    m_operationFailure = LUMENORD_FAILURE_NONE;
    if (start.endPadInput) MarkPadInputClosed();
    // An operation that holds the buttons and ends the loops is a new one for the loops too.
    if (start.busyButtons && start.stopKeyLoops) ++m_operationSerial;
    if (start.stopKeyLoops) StopKeyLoops();
    if (start.busyButtons) DisableOperationButtons();
    if (start.clearStatus) ShowStatus("");
}

void Shell::OpenKeypadMode() {
    MarkPadInputOpen();
    keyPollActive = 1;
}

void Shell::CloseKeypadMode() {
    StopReaderThread();
    portRequest = 0;
    readerBusy = 0;
    EndPadInput();
}

bool Shell::StartReaderThread(std::function<void()> body) {
    // A reader that has left its loop returns at once.
    if (readerThread.joinable()) readerThread.join();
    portRequest = 0;
    readerBusy = 0;
    try {
        readerThread = std::thread([body = std::move(body)] {
            NameThisThread("keypad reader");
            body();
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Shell::StopReaderThread() {
    if (!readerThread.joinable()) return;
    StopKeyLoops();
    readerThread.join();
}

void Shell::ShowStatus(const QString& text) {
    if (m_statusPanel) m_statusPanel->setText(text);
    if (m_statusObserver) m_statusObserver(text);
    std::optional<int> result = std::exchange(m_shownResult, std::nullopt);
    int failure = std::exchange(m_shownFailure, LUMENORD_FAILURE_NONE);
    if (!result) {
        result = m_operationResult;
        failure = m_operationFailure;
    }
    if (m_historyObserver && !text.isEmpty())
        m_historyObserver({text, result, m_scope.run, failure, m_scope.control, m_scope.name});
}

int Shell::FailureBehind(int result) {
    return result != 0 && result == t_lastCallResult ? t_lastCallFailure : LUMENORD_FAILURE_NONE;
}

void Shell::KeepOperationResult(int result) {
    m_operationResult = result;
    m_operationFailure = FailureBehind(result);
}

void Shell::ShowFailure(const char* format, int result) {
    m_shownResult = result;
    m_shownFailure = FailureBehind(result);
    ShowStatus(FormatResultMessage(format, result));
}

void Shell::ShowResult(int result, const char* failureFormat, const char* successText) {
    if (result != 0) {
        ShowFailure(failureFormat, result);
    } else if (successText != nullptr) {
        m_shownResult = 0;
        ShowStatus(successText);
    }
}

void Shell::Refuse(const QString& message, QWidget* focus) {
    ShowStatus(message);
    if (focus != nullptr) {
        m_scope.focusMovedOnPurpose = true;
        focus->setFocus();
    }
    EnableOperationButtons();
}

bool Shell::FetchChallenge(char* buffer, std::size_t size) {
    const Operation challenge =
        Operation::Standard()
            .Starting({false, false, false, false})
            .Texts("get challenge failure,failure reason is:%s", "get challenge succeed");
    const int result = Run(challenge, Entries().PinPad_GetChallenge,
                           [&](auto getChallenge) { return getChallenge(buffer); });
    buffer[size - 1] = '\0';
    return result == 0;
}

QString Shell::StatusText() const { return m_statusPanel ? m_statusPanel->text() : QString(); }

QPushButton* Shell::MakeOperationButton(const char* name, const QString& caption, QWidget* parent,
                                        ButtonStates states) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    m_buttons.push_back({button, states});
    return button;
}

std::vector<QPushButton*> Shell::OperationButtons() const {
    std::vector<QPushButton*> buttons;
    for (const RegisteredButton& registered : m_buttons) {
        if (registered.button) buttons.push_back(registered.button);
    }
    return buttons;
}

void Shell::ApplyButtonStates(bool open) {
    for (const RegisteredButton& registered : m_buttons) {
        if (!registered.button) continue;
        registered.button->setEnabled(open ? registered.states.enabledWhenOpen
                                           : registered.states.enabledWhenClosed);
    }
}

void Shell::DisableOperationButtons() {
    if (!m_scope.busy) {
        m_scope.busy = true;
        m_scope.focusMovedOnPurpose = false;
        m_scope.focusMovedByOperator = false;
    }
    ApplyButtonStates(false);
}

void Shell::EnableOperationButtons() {
    ApplyButtonStates(m_portOpen);
    if (!m_scope.busy) return;
    m_scope.busy = false;
    RestoreFocus(nullptr);
}

void Shell::SettleFocus(QWidget* standIn) { RestoreFocus(standIn); }

void Shell::RestoreFocus(QWidget* standIn) {
    if (m_scope.focusMovedOnPurpose || m_scope.focusMovedByOperator) return;
    auto usable = [](const QWidget* widget) {
        return widget != nullptr && widget->isEnabled() && widget->isVisible();
    };
    // Where the operator was when the handler began: the clicked button, as a rule.
    QWidget* target = m_scope.focusBefore ? m_scope.focusBefore.data() : m_scope.control.data();
    if (!usable(target)) target = standIn;
    if (!usable(target)) return;
    target->setFocus(Qt::OtherFocusReason);
}

QWidget* Shell::FocusInWindow() const {
    if (QWidget* focus = QApplication::focusWidget()) return focus;
    // The first click on an inactive window gives the button the focus of its window before
    // the window is active; the application's focus follows on activation.
    return m_statusPanel ? m_statusPanel->window()->focusWidget() : nullptr;
}

bool Shell::HoldsKeys() const {
    // The busy state outside any handler (the closed port at start) is no operation running.
    return (m_scope.run != 0 && m_scope.busy) || m_outerBusyRuns > 0;
}

void Shell::RunAsHandler(QWidget* control, const std::function<void()>& body) {
    HandlerScope outer = std::exchange(m_scope, HandlerScope{});
    const std::optional<int> outerResult = m_operationResult;
    const int outerFailure = m_operationFailure;
    const bool outerHoldsKeys = outer.run != 0 && outer.busy;
    if (outerHoldsKeys) ++m_outerBusyRuns;
    m_scope.control = control;
    m_scope.run = ++m_handlerRuns;
    m_scope.focusBefore = FocusInWindow();
    m_operationResult.reset();
    m_operationFailure = LUMENORD_FAILURE_NONE;
    body();
    if (outerHoldsKeys) --m_outerBusyRuns;
    m_scope = std::move(outer);
    m_operationResult = outerResult;
    m_operationFailure = outerFailure;
}

void Shell::SetClosePortEnabled(bool enabled) {
    for (const RegisteredButton& registered : m_buttons) {
        if (registered.button && registered.states.closesPort)
            registered.button->setEnabled(enabled && m_portOpen);
    }
}

void Shell::EndEntryLoops() {
    if (m_runningKeyLoops == 0) return;
    ++m_pollGeneration;
    SetClosePortEnabled(true);
}

void Shell::WaitForReader() {
    portRequest = 1;
    const auto deadline = std::chrono::steady_clock::now() + kReaderDeadline;
    do {
        ProcessPendingEvents();
        if (readerBusy == 0) break;
        // The reader holds the driver lock while it is busy: wait on the lock, not in a spin.
        if (m_driverLock.try_lock_for(kPumpSlice)) m_driverLock.unlock();
    } while (std::chrono::steady_clock::now() < deadline);
}

bool Shell::PollKeysWhileActive(const std::function<KeyStep(unsigned char)>& onByte) {
    keyPollActive = 1;
    return PollKeys([this] { return KeyPollingEnded(); }, onByte);
}

bool Shell::PollKeys(const std::function<bool()>& stopped,
                     const std::function<KeyStep(unsigned char)>& onByte) {
    auto readOneByte = m_entries.PinPad_ReadOneByte;
    if (readOneByte == nullptr) return false;
    const unsigned long serial = m_operationSerial;
    const std::uint64_t generation = ++m_pollGeneration;
    // Counts this loop as running until it returns, whichever way it leaves.
    struct RunningLoop {
        int& running;
        explicit RunningLoop(int& count) : running(count) { ++running; }
        ~RunningLoop() { --running; }
        RunningLoop(const RunningLoop&) = delete;
        RunningLoop& operator=(const RunningLoop&) = delete;
    } const runningLoop(m_runningKeyLoops);
    auto ended = [&] {
        return m_operationSerial != serial || m_pollGeneration != generation || stopped();
    };
    for (;;) {
        ProcessPendingEvents();
        if (ended()) return false;
        // The read waits about a second for a byte and returns the moment one is queued, so
        // the loop neither sleeps nor spins.
        unsigned char read[3] = {};
        const auto start = std::chrono::steady_clock::now();
        const int result = ReadWhileWindowWaits([&] { return readOneByte(read); });
        if (result != 0) {
            // A read that failed at once (port closed, line gone) must not turn the loop into
            // a spin: keep handling events for the rest of a short pause.
            if (const auto rest = FailedReadRest(start); rest > rest.zero()) PumpFor(rest);
            continue;
        }
        if (ended()) return false;
        if (onByte(read[0]) == KeyStep::kDone) return true;
    }
}

int Shell::ReadWhileWindowWaits(const std::function<int()>& read) {
    if (!OnWindowThread()) return CallAfterReader(read);
    WaitForReader();
    // The read waits on a thread of its own while the window thread sleeps in its event loop,
    // which wakes the moment a window event (a paint, a call over the accessibility bus)
    // arrives; the driver's own pump would take them only between its 10 ms waits. Handlers
    // clicked meanwhile run after the read, as they do after any driver call.
    int result = kDriverBusy;
    QEventLoop waiting;
    t_inDriverCall = true;
    try {
        std::thread reading([&] {
            result = GuardedCall(read);
            QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
        });
        waiting.exec();
        reading.join();
    } catch (const std::system_error&) {
        t_inDriverCall = false;
        result = GuardedCall(read);
    }
    t_inDriverCall = false;
    portRequest = 0;
    RunDeferredHandlers();
    return result;
}

bool Shell::AcquireDriver() {
    const auto deadline = std::chrono::steady_clock::now() + kReaderDeadline;
    while (!m_driverLock.try_lock_for(kPumpSlice)) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        ProcessPendingEvents();
    }
    return true;
}

void Shell::RunDeferredHandlers() {
    if (!OnWindowThread()) return;
    // A deferred handler may itself make a driver call and defer more; take them in order.
    while (!m_deferred.empty() && !t_inDriverCall) {
        std::function<void()> next = std::move(m_deferred.front());
        m_deferred.erase(m_deferred.begin());
        next();
    }
}

bool Shell::InDriverCall() { return t_inDriverCall; }

void PINPAD_CALL Shell::PumpMessages() { ProcessPendingEvents(); }

void Shell::ReportException(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        ShowErrorDialog(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowErrorDialog(QString());
    }
}

}  // namespace shell
