// An operation as the shell runs it: the control that started it, its name in the history, and
// how it starts, waits for the reader, gives the buttons back and shows its result.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

namespace shell {

// What most handlers show for an unbound driver entry.
inline constexpr const char* kUnboundEntryText = "failure in selecting function";

// The shared transitions an operation makes when it begins, in this order.
struct OperationStart {
    bool endPadInput = true;   // padInputClosed 1: every pad input mode is over
    bool stopKeyLoops = true;  // keyPollActive 0: the reader and the star echo loops end
    bool busyButtons = true;   // the buttons go to their busy state
    bool clearStatus = true;   // the status line is emptied
};

// What happens around the driver call.
enum class ReaderWait {
    kWait,        // the call waits until the clear-text reader is out of the driver
    kStopReader,  // the reader thread is stopped and joined first, then the call waits as above
    kNone,        // a plain call
};
enum class ButtonsBack {
    kAfterCall,   // the buttons come back once the call has returned
    kBeforeCall,  // they come back once the reader is out of the way, before the call
    kUntouched,   // the operation leaves them as they are
};
enum class WhenUnbound {
    kRefuse,          // the unbound text, and the buttons come back
    kShowText,        // the unbound text only
    kCountAsSuccess,  // not called, result 0 (the port handlers take a missing driver so)
};

struct Operation {
    // The control whose handler runs the operation: the focus returns to it, and the history
    // names the operation by it. Null: the control whose handler is running.
    QPointer<QWidget> control;
    // The name in the history; empty: the control's caption.
    QString name;
    OperationStart start;
    ReaderWait reader = ReaderWait::kWait;
    ButtonsBack buttons = ButtonsBack::kAfterCall;
    WhenUnbound unbound = WhenUnbound::kRefuse;
    const char* unboundText = kUnboundEntryText;
    // The result texts; a null failure format leaves the result to the handler.
    const char* failureFormat = nullptr;
    const char* successText = nullptr;

    // ---- Presets for the common shapes; the setters below adjust one axis ----

    // Begins with every transition, waits for the reader, buttons back after the call.
    static Operation Standard(QWidget* control = nullptr) {
        Operation op;
        op.control = control;
        return op;
    }
    // The same without waiting for the reader (the authentication calls).
    static Operation WithoutReaderWait(QWidget* control = nullptr) {
        Operation op = Standard(control);
        op.reader = ReaderWait::kNone;
        return op;
    }
    // The buttons come back before the call (a key download whose call may start an entry on
    // the pad, which must find the buttons usable).
    static Operation ButtonsBeforeCall(QWidget* control = nullptr) {
        Operation op = Standard(control);
        op.buttons = ButtonsBack::kBeforeCall;
        return op;
    }
    // The reader thread is joined before the call: for an entry that leaves the reader's flags
    // alone and must not share the pad's key presses with it.
    static Operation AfterStoppingReader(QWidget* control = nullptr) {
        Operation op = Standard(control);
        op.reader = ReaderWait::kStopReader;
        return op;
    }
    // A call after the reader that leaves the buttons and the flags alone (the display).
    static Operation KeepingButtons(QWidget* control = nullptr) {
        Operation op = Standard(control);
        op.start = {false, false, false, false};
        op.buttons = ButtonsBack::kUntouched;
        op.unbound = WhenUnbound::kShowText;
        return op;
    }
    // The port's open and close: the flags end, the status empties, the buttons stay; a plain
    // call that takes a missing driver for success.
    static Operation PortCall(QWidget* control = nullptr) {
        Operation op = Standard(control);
        op.start.busyButtons = false;
        op.reader = ReaderWait::kNone;
        op.buttons = ButtonsBack::kUntouched;
        op.unbound = WhenUnbound::kCountAsSuccess;
        return op;
    }
    // A plain call inside another operation, or one that needs no pad (local cipher work, the
    // control codes that open the keypad or close it with the window): nothing begins, buttons
    // and status stay, an unbound entry is not called and counts as 0.
    static Operation PlainCall() {
        Operation op;
        op.start = {false, false, false, false};
        op.reader = ReaderWait::kNone;
        op.buttons = ButtonsBack::kUntouched;
        op.unbound = WhenUnbound::kCountAsSuccess;
        return op;
    }

    Operation& Starting(OperationStart how) {
        start = how;
        return *this;
    }
    Operation& Texts(const char* failure, const char* success) {
        failureFormat = failure;
        successText = success;
        return *this;
    }
    Operation& Unbound(const char* text) {
        unboundText = text;
        return *this;
    }
    Operation& Named(const QString& historyName) {
        name = historyName;
        return *this;
    }
};

}  // namespace shell
