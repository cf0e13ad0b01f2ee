// What the pages share: the driver entry table, the five flags and their transitions, the status
// line, the operation button registry, the reader handshake and the guarded driver call with the
// handler skeletons built on it.
#pragma once

#include <pinpad.h>

#include <QAbstractButton>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "dialogs.h"
#include "driver_entries.h"
#include "driver_lock.h"
#include "operation.h"
#include "str_to_int.h"

namespace shell {

// Result of a guarded call that could not enter the driver (a call of this thread is still
// running, or another thread kept the driver too long). Shown as "Other error".
inline constexpr int kDriverBusy = -5;
// Result of Run when the operation's driver entry is not bound.
inline constexpr int kEntryUnbound = std::numeric_limits<int>::min();

// Text buffers of the authorization handlers: typed authorization data and passwords, and the
// challenges the pad sends.
inline constexpr std::size_t kAuthTextSize = 128;
// Outputs of the authorization entries. The entries may come from another library than ours,
// so they get more room than our driver's PINPAD_AUTH_REPLY_SIZE.
inline constexpr std::size_t kAuthReplySize = 256;
static_assert(kAuthTextSize >= PINPAD_AUTH_REPLY_SIZE && kAuthReplySize >= PINPAD_AUTH_REPLY_SIZE);

// A read of the pad that failed at once (port closed, line gone) is repeated after this long at
// the earliest, so that a loop around it does not spin.
inline constexpr std::chrono::milliseconds kFailedReadPause{100};
// What is left of kFailedReadPause after a failed read that began at `start`; zero once spent.
inline std::chrono::steady_clock::duration FailedReadRest(
    std::chrono::steady_clock::time_point start) {
    const auto spent = std::chrono::steady_clock::now() - start;
    return spent < kFailedReadPause ? kFailedReadPause - spent
                                    : std::chrono::steady_clock::duration::zero();
}

// How the two button routines set an operation button: its state for a closed port (and the
// busy state) and for an open one.
struct ButtonStates {
    bool enabledWhenClosed = false;
    bool enabledWhenOpen = true;
    bool closesPort = false;  // entry loops hold it off while they wait for keys
};
inline constexpr ButtonStates kOperationButton{};
inline constexpr ButtonStates kOpenPortButton{true, false};
inline constexpr ButtonStates kClosePortButton{false, true, true};
// Off in both states; its page turns it on ("Read ciphertext" after a PIN entry).
inline constexpr ButtonStates kEnabledByItsPage{false, false};

class Shell {
public:
    Shell();
    ~Shell();
    Shell(const Shell&) = delete;
    Shell& operator=(const Shell&) = delete;

    DriverEntries& Entries() { return m_entries; }
    const DriverEntries& Entries() const { return m_entries; }
    // The driver's entry that tells why a call failed (Lumenord_LastFailure), bound apart from
    // the table since another maker's library lacks it; null: no reasons. Set it before the
    // first driver call.
    void SetLastFailureEntry(decltype(&::Lumenord_LastFailure) entry) {
        m_lastFailureEntry = entry;
    }
    decltype(&::Lumenord_LastFailure) LastFailureEntry() const { return m_lastFailureEntry; }

    // ---- The five shared flags: anyone reads them, only these transitions change them ----

    // No pad input mode is known to be open; every key-press loop and the reader leave then.
    bool PadInputClosed() const { return padInputClosed == 1; }
    // A loop that watches keyPollActive (the reader, a star echo entry) is meant to run.
    bool KeyPollActive() const { return keyPollActive == 1; }
    // What ends the reader and the star echo loops: key polling off or the pad input closed.
    bool KeyPollingEnded() const { return keyPollActive == 0 || padInputClosed == 1; }
    // A reader thread exists; it may have decided to leave and wait for its join.
    bool ReaderThreadExists() const { return readerThread.joinable(); }

    // The pad input mode an operation opened is over, or no longer of interest: padInputClosed 1.
    void MarkPadInputClosed() { padInputClosed = 1; }
    // An operation has put the pad into an input mode (padInputClosed 0); closing the window
    // then sends the code that ends it.
    void MarkPadInputOpen() { padInputClosed = 0; }
    // Ends the loops that watch keyPollActive: keyPollActive 0.
    void StopKeyLoops() { keyPollActive = 0; }
    // Both: every key-press loop and the reader end at their next pass.
    void EndPadInput();

    // Begins `operation`: the shared transitions of its start, in order.
    void Begin(const Operation& operation);

    // The clear-text keypad mode is open: pad input open and key polling on.
    void OpenKeypadMode();
    // Ends the clear-text keypad mode: the reader stops and is joined, the port handshake is
    // reset, and every key-press loop ends.
    void CloseKeypadMode();
    // Starts `body` as the reader thread with a fresh port handshake (portRequest and readerBusy
    // 0); a reader that has left its loop is joined first. False when no thread can be created.
    bool StartReaderThread(std::function<void()> body);
    // Stops the reader thread: ends its loop through keyPollActive and joins it.
    void StopReaderThread();
    // The reader thread's turn in the driver: while the window thread wants the port
    // (portRequest) the reader steps aside and gets nothing; otherwise it is busy (readerBusy)
    // for the guarded `call` and gets its result.
    template <typename Call>
    std::optional<int> ReaderDriverCall(Call&& call);

    void SetStatusPanel(QLabel* panel) { m_statusPanel = panel; }
    void ShowStatus(const QString& text);
    // Called with every text the status line is given, in order, whether or not it differs from
    // the one shown: automation follows the messages of an operation through it.
    void SetStatusObserver(std::function<void(const QString&)> observer) {
        m_statusObserver = std::move(observer);
    }
    QString StatusText() const;
    // A status line as the operation history takes it: the text, the result code behind it
    // when the line reports one, the number of the handler run that showed it, and why the driver
    // call behind a failed result failed (a LUMENORD_FAILURE_ code; none when the driver does
    // not say).
    struct StatusRecord {
        QString text;
        std::optional<int> result;
        unsigned long operation = 0;
        int failure = LUMENORD_FAILURE_NONE;
        // The control whose handler showed the line (its operation); null when none.
        QPointer<QWidget> control;
        QString name;  // the operation's own name for the history; empty: the control's caption
    };
    // Called with every non-empty status text, after the status line shows it.
    void SetHistoryObserver(std::function<void(const StatusRecord&)> observer) {
        m_historyObserver = std::move(observer);
    }
    // Shows `format` with the result text of `result` put in place of its "%s".
    void ShowFailure(const char* format, int result);
    // Ends a handler at a validation failure: its message, the focus on the field at fault and
    // the buttons back.
    void Refuse(const QString& message, QWidget* focus);

    // Ends a handler whose driver entry is not bound, as `operation` says (its text, and the
    // buttons back unless it keeps them). True when `entry` is missing and the handler must stop;
    // an operation that counts a missing entry as success never stops here.
    template <typename Entry>
    bool RefuseUnbound(const Operation& operation, Entry entry);

    // The one operation runner, after the handler's own checks: the driver call `call(entry)`
    // waited, guarded and framed by the buttons as `operation` says, then its result texts
    // when it names them. Returns the result, or kEntryUnbound when the entry is missing (0
    // for an operation that counts that as success).
    template <typename Entry, typename Call>
    int Run(const Operation& operation, Entry entry, Call&& call);

    // Asks the pad for a challenge into `buffer` (`size` bytes, kept terminated); the buttons
    // come back. True with "get challenge succeed" shown; false with the refusal or the failure
    // shown.
    bool FetchChallenge(char* buffer, std::size_t size);

    // Creates an operation button with its name, caption and states and adds it to the
    // registry.
    QPushButton* MakeOperationButton(const char* name, const QString& caption, QWidget* parent,
                                     ButtonStates states = kOperationButton);
    // The busy state of the buttons (also the state of a closed port). Until the operation
    // ends, the keys pressed in the window do nothing: disabling the clicked button moves the
    // focus on, to a control the next keys must not reach.
    void DisableOperationButtons();
    // The buttons back: the open state, or the closed state while the port is closed. The
    // focus goes back to the control that started the operation unless the handler (a refusal)
    // or the operator (a click) moved it since.
    void EnableOperationButtons();
    // The focus at the end of an operation that left its own button disabled (the port's open
    // and close): on `standIn`, the button enabled in its place, unless the handler or the
    // operator moved it.
    void SettleFocus(QWidget* standIn);
    // Whether the keys of the window are held back now: an operation runs with the buttons busy.
    bool HoldsKeys() const;
    // The control whose handler runs now (null outside handlers or for one without a control).
    QWidget* HandlerControl() const { return m_scope.control; }
    // Entry loops keep the port from being closed under them: "Close Com port" is off while a
    // loop waits for key presses and back on when it ends (while the port is open).
    void SetClosePortEnabled(bool enabled);

    // Whether the port is open, as far as the window knows: set by a successful open, cleared
    // by a close and by an open that failed.
    bool PortOpen() const { return m_portOpen; }
    void MarkPortOpen() { m_portOpen = true; }
    void MarkPortClosed() { m_portOpen = false; }
    std::vector<QPushButton*> OperationButtons() const;

    // What a key-press loop does after one byte from the pad.
    enum class KeyStep { kMore, kDone };
    // The key-press polling loop of the window thread (entries typed on the pad, star echoes):
    // each pass lets the window handle its events, leaves when `stopped()` says another
    // operation has started, and otherwise reads one byte after the reader; a delivered byte
    // goes to `onByte` unless an operation started during the read. An operation begun after the
    // loop (Begin with the buttons busy) ends it too, even when that operation ran an entry loop of
    // its own that raised the flags again; so does a loop started from inside this one (an entry
    // begun without ending the loops, as the password entry is): the outer loop leaves as soon as
    // it resumes. Returns true when `onByte` ended the loop, false when `stopped()`, a newer
    // operation or a newer loop did, or the read entry is not bound.
    bool PollKeys(const std::function<bool()>& stopped,
                  const std::function<KeyStep(unsigned char)>& onByte);
    // The star echo loop of a PIN or password entry: raises keyPollActive and polls until
    // `onByte` ends the loop or KeyPollingEnded().
    bool PollKeysWhileActive(const std::function<KeyStep(unsigned char)>& onByte);
    // Ends every key-press loop that runs (they leave at their next pass, without touching the
    // buttons) and gives "Close Com port" back, which the loops held off. For the clear-text
    // keypad mode, whose reader would otherwise never get the line from a running loop.
    void EndEntryLoops();

    // True while this thread is inside (or waiting to enter) a guarded driver call.
    static bool InDriverCall();

    // Wraps a page's handler for connect(): an event dispatched while the window thread is inside
    // a driver call (from the driver's message pump) runs right after that call returns, and a
    // conversion error (or any other exception) is shown as the error dialog. `control` is the
    // control whose signal runs it: the operation's button, and its name in the history.
    template <typename Page>
    auto Handler(Page* page, void (Page::*handler)(), QWidget* control = nullptr);
    // Runs `handler` of `page` when `button` is clicked.
    template <typename Page>
    void OnClick(QAbstractButton* button, Page* page, void (Page::*handler)()) {
        QObject::connect(button, &QAbstractButton::clicked, page, Handler(page, handler, button));
    }

    // Queues `work` to run on the window thread right after its current driver call.
    void Defer(std::function<void()> work) { m_deferred.push_back(std::move(work)); }

    // The pump the driver calls while it waits: processes the window thread's pending events.
    static void PINPAD_CALL PumpMessages();

private:
    // Raises portRequest and keeps the window responsive until the reader is out of the driver.
    void WaitForReader();
    // Runs `call` inside the driver lock. Refuses (kDriverBusy) when this thread is already in a
    // driver call, which happens when a click is dispatched from inside a driver wait. A call
    // that fails has its reason read right after it, on this thread (the driver keeps one per
    // thread), for the status lines that report its result.
    template <typename Call>
    int GuardedCall(Call&& call);
    // Why this thread's last guarded call failed, when it returned `result`; none otherwise.
    static int FailureBehind(int result);
    // The operation's driver result, which its later status lines report, with its reason.
    void KeepOperationResult(int result);
    // The guarded call of a handler: WaitForReader, the guarded call, portRequest back to 0.
    template <typename Call>
    int CallAfterReader(Call&& call);
    // A key-press loop's read after the reader: made on a thread of its own while the window
    // thread waits in its event loop, so that window events are taken as they come.
    int ReadWhileWindowWaits(const std::function<int()>& read);
    // Shows the skeleton's result texts: `failureFormat` for a nonzero result, else
    // `successText` unless null.
    void ShowResult(int result, const char* failureFormat, const char* successText);
    bool AcquireDriver();
    // Every registered button to its state for an open (or closed) port.
    void ApplyButtonStates(bool open);
    // The focus back where the handler found it (the operation's button, as a rule), or on
    // `standIn` when that is disabled, unless a refusal or the operator moved it since.
    void RestoreFocus(QWidget* standIn);
    // What one handler run knows while it runs: its control and number, and the focus state of
    // its operation.
    struct HandlerScope {
        QPointer<QWidget> control;
        QString name;
        unsigned long run = 0;
        bool busy = false;                 // its operation holds the buttons busy
        QPointer<QWidget> focusBefore;     // without a control: the focus when it went busy
        bool focusMovedOnPurpose = false;  // a refusal put it on the field at fault
        bool focusMovedByOperator = false;
    };
    // The control with the focus, or the one the window gives it when it becomes active.
    QWidget* FocusInWindow() const;
    // Runs `body` as one handler run of `control`; the scope of an enclosing run comes back after.
    void RunAsHandler(QWidget* control, const std::function<void()>& body);
    friend class KeyHold;
    // Runs the handlers deferred during a driver call of the window thread.
    void RunDeferredHandlers();
    static void ReportException(std::exception_ptr error);

    // The shared flags; the reader thread reads and writes them too.
    std::atomic<int> keyPollActive{0};
    std::atomic<int> padInputClosed{0};
    std::atomic<int> portRequest{0};
    std::atomic<int> readerBusy{0};
    std::thread readerThread;  // joinable = the clear-text keypad reader runs
    DriverEntries m_entries;
    QPointer<QLabel> m_statusPanel;
    std::function<void(const QString&)> m_statusObserver;
    std::function<void(const StatusRecord&)> m_historyObserver;
    std::optional<int> m_shownResult;            // the result the next status text reports, if any
    int m_shownFailure = LUMENORD_FAILURE_NONE;  // and why it failed
    // The result of the current operation's driver call; what its later status lines report.
    std::optional<int> m_operationResult;
    int m_operationFailure = LUMENORD_FAILURE_NONE;
    decltype(&::Lumenord_LastFailure) m_lastFailureEntry = nullptr;
    struct RegisteredButton {
        QPointer<QPushButton> button;
        ButtonStates states;
    };
    std::vector<RegisteredButton> m_buttons;
    bool m_portOpen = false;
    HandlerScope m_scope;     // the handler run now (window thread)
    int m_outerBusyRuns = 0;  // enclosing handler runs whose operations hold the buttons busy
    unsigned long m_handlerRuns = 0;
    std::unique_ptr<QObject> m_keyHold;  // holds the window's keys back while HoldsKeys()
    int m_runningKeyLoops = 0;           // window thread
    DriverLock m_driverLock;
    std::vector<std::function<void()>> m_deferred;  // window thread only
    unsigned long m_operationSerial = 0;            // counts the operations begun; window thread
    std::uint64_t m_pollGeneration = 0;             // counts the key-press loops started
    static thread_local bool t_inDriverCall;
    // This thread's last guarded call: its result and why it failed.
    static thread_local int t_lastCallResult;
    static thread_local int t_lastCallFailure;
};

template <typename Call>
int Shell::GuardedCall(Call&& call) {
    if (t_inDriverCall) return kDriverBusy;
    t_inDriverCall = true;
    int result = kDriverBusy;
    int failure = LUMENORD_FAILURE_NONE;
    if (AcquireDriver()) {
        std::unique_lock<DriverLock> lock(m_driverLock, std::adopt_lock);
        result = call();
        if (result != 0 && m_lastFailureEntry != nullptr) failure = m_lastFailureEntry();
    }
    t_lastCallResult = result;
    t_lastCallFailure = failure;
    t_inDriverCall = false;
    RunDeferredHandlers();
    return result;
}

template <typename Call>
int Shell::CallAfterReader(Call&& call) {
    WaitForReader();
    const int result = GuardedCall(std::forward<Call>(call));
    portRequest = 0;
    return result;
}

template <typename Call>
std::optional<int> Shell::ReaderDriverCall(Call&& call) {
    if (portRequest == 1) {
        readerBusy = 0;
        return std::nullopt;
    }
    readerBusy = 1;
    const int result = GuardedCall(std::forward<Call>(call));
    readerBusy = 0;
    return result;
}

template <typename Entry>
bool Shell::RefuseUnbound(const Operation& operation, Entry entry) {
    if (entry != nullptr || operation.unbound == WhenUnbound::kCountAsSuccess) return false;
    ShowStatus(operation.unboundText);
    if (operation.unbound == WhenUnbound::kRefuse) EnableOperationButtons();
    return true;
}

template <typename Entry, typename Call>
int Shell::Run(const Operation& operation, Entry entry, Call&& call) {
    if (entry == nullptr) return RefuseUnbound(operation, entry) ? kEntryUnbound : 0;
    auto bound = [&] { return call(entry); };
    if (operation.reader == ReaderWait::kStopReader) StopReaderThread();
    int result = 0;
    if (operation.buttons == ButtonsBack::kBeforeCall) {
        WaitForReader();
        EnableOperationButtons();
        result = GuardedCall(bound);
        portRequest = 0;
    } else if (operation.reader == ReaderWait::kNone) {
        result = GuardedCall(bound);
    } else {
        result = CallAfterReader(bound);
    }
    KeepOperationResult(result);
    if (operation.buttons == ButtonsBack::kAfterCall) EnableOperationButtons();
    if (operation.failureFormat != nullptr)
        ShowResult(result, operation.failureFormat, operation.successText);
    return result;
}

template <typename Page>
auto Shell::Handler(Page* page, void (Page::*handler)(), QWidget* control) {
    return [this, page, handler, control = QPointer<QWidget>(control)]() {
        QPointer<QObject> guard(page);
        auto run = [this, guard, page, handler, control]() {
            if (!guard) return;
            RunAsHandler(control, [&] {
                try {
                    (page->*handler)();
                } catch (...) {
                    ReportException(std::current_exception());
                }
            });
        };
        if (InDriverCall()) {
            Defer(std::move(run));
        } else {
            run();
        }
    };
}

}  // namespace shell
