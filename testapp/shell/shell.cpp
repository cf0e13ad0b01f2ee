#include "shell.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
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

struct ButtonStates {
    const char* name;
    bool enabledWhenClosed;  // DisableOperationButtons
    bool enabledWhenOpen;    // EnableOperationButtons
};

constexpr ButtonStates kButtonStates[] = {
    {"btOpenCom", true, false},
    {"btGetPin", false, false},
    {"btCloseCom", false, true},
    {"btGetVersion", false, true},
    {"btInitAuthorization", false, true},
    {"btBidirectionAuthorization", false, true},
    {"btSetCustomerInfo", false, true},
    {"btGetCustomerInfor", false, true},
    {"btSetKeyboard", false, true},
    {"btSetControlCode", false, true},
    {"btDownloadKey", false, true},
    {"btDownloadEncrypt", false, true},
    {"btEnablePin", false, true},
    {"btMakeMAC", false, true},
    {"btEncryptData", false, true},
    {"btDecipherData", false, true},
    {"IC_Control", false, true},
    {"IC_Access", false, true},
    {"OpenKeyBord", false, true},
    {"CloseKeyBord", false, true},
    {"Button4", false, true},
    {"Button5", false, true},
    {"Button6", false, true},
    {"TabSheet8_Display", false, true},
};

const ButtonStates* StatesOf(const QString& name) {
    for (const ButtonStates& states : kButtonStates) {
        if (name == QLatin1String(states.name)) return &states;
    }
    return nullptr;
}

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

Shell::Shell() = default;

Shell::~Shell() { StopReaderThread(); }

void Shell::EndPadInput() {
    MarkPadInputClosed();
    StopKeyLoops();
}

void Shell::BeginOperation() {
    MarkPadInputClosed();
    BeginOperationKeepingPadInput();
}

void Shell::BeginOperationKeepingButtons() {
    EndPadInput();
    m_operationResult.reset();
    m_operationFailure = LUMENORD_FAILURE_NONE;
    ShowStatus("");
}

void Shell::BeginOperationKeepingPadInput() {
    ++m_operationSerial;
    m_operationResult.reset();
    m_operationFailure = LUMENORD_FAILURE_NONE;
    StopKeyLoops();
    DisableOperationButtons();
    ShowStatus("");
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
        m_historyObserver({text, result, m_operationSerial, failure});
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
        m_focusMovedOnPurpose = true;
        focus->setFocus();
    }
    EnableOperationButtons();
}

bool Shell::FetchChallenge(char* buffer, std::size_t size) {
    const int result = RunOperation(
        Entries().PinPad_GetChallenge, [&](auto getChallenge) { return getChallenge(buffer); },
        "get challenge failure,failure reason is:%s", "get challenge succeed");
    buffer[size - 1] = '\0';
    return result == 0;
}

QString Shell::StatusText() const { return m_statusPanel ? m_statusPanel->text() : QString(); }

QPushButton* Shell::MakeOperationButton(const char* name, const QString& caption, QWidget* parent) {
    Q_ASSERT(StatesOf(QLatin1String(name)) != nullptr);
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    m_buttons.emplace_back(button);
    return button;
}

void Shell::ApplyButtonStates(bool open) {
    for (const QPointer<QPushButton>& button : m_buttons) {
        if (!button) continue;
        const ButtonStates* states = StatesOf(button->objectName());
        button->setEnabled(open ? states->enabledWhenOpen : states->enabledWhenClosed);
    }
}

void Shell::DisableOperationButtons() {
    QWidget* const focus = QApplication::focusWidget();
    // A handler that goes busy twice keeps what the first time remembered, unless the focus
    // was moved in between.
    if (!m_focusRemembered || focus != m_focusMovedByBusy) {
        m_focusBeforeBusy = focus;
        m_focusMovedOnPurpose = false;
    }
    ApplyButtonStates(false);
    m_focusMovedByBusy = QApplication::focusWidget();
    m_focusRemembered = true;
}

void Shell::EnableOperationButtons() {
    ApplyButtonStates(m_portOpen);
    RestoreFocus();
}

void Shell::RestoreFocus() {
    if (!m_focusRemembered) return;
    m_focusRemembered = false;
    QWidget* const before = m_focusBeforeBusy;
    if (m_focusMovedOnPurpose || before == nullptr) return;
    // Moved by the handler or by the operator while the operation ran: leave it there.
    if (QApplication::focusWidget() != m_focusMovedByBusy) return;
    if (!before->isEnabled() || !before->isVisible()) return;
    before->setFocus(Qt::OtherFocusReason);
}

void Shell::SetClosePortEnabled(bool enabled) {
    for (const QPointer<QPushButton>& button : m_buttons) {
        if (button && button->objectName() == QLatin1String("btCloseCom")) {
            button->setEnabled(enabled && m_portOpen);
        }
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
        if (m_driverMutex.try_lock_for(kPumpSlice)) m_driverMutex.unlock();
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
        const int result = CallAfterReader([&] { return readOneByte(read); });
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

bool Shell::AcquireDriver() {
    const auto deadline = std::chrono::steady_clock::now() + kReaderDeadline;
    while (!m_driverMutex.try_lock_for(kPumpSlice)) {
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
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        ShowErrorDialog(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowErrorDialog(QString());
    }
}

}  // namespace shell
