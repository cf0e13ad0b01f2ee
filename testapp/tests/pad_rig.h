// A window wired to the real driver and a simulated pad on a pty, in a fresh working folder.
#pragma once

#include <fcntl.h>
#include <padsim/pty_pad.h>
#include <termios.h>
#include <unistd.h>

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "test_support.h"

namespace testsupport {

// The status while a PIN or password entry waits for keys on the pad.
inline const QString kEntryStarted =
    "succeed in starting PIN ,please input your password in the keyboard";

class PadRig {
public:
    static constexpr std::chrono::milliseconds kClickDeadline{60000};

    explicit PadRig(padsim::PadOptions options = {})
        : pad(std::make_unique<padsim::PtyPad>(std::move(options))) {
        QFile config(folder.file("sysconfig.ini"));
        if (config.open(QIODevice::WriteOnly)) {
            config.write("[PORTS]\nCOM1=" + QByteArray::fromStdString(pad->DevicePath()) + "\n");
        }
        config.close();
        window = std::make_unique<shell::TfmTestQm731>();
    }
    ~PadRig() {
        window.reset();
        pad.reset();
    }

    QWidget* w() const { return window.get(); }
    shell::Shell& shared() const { return window->SharedState(); }
    QString status() const { return StatusLine(window.get()); }

    template <typename W = QWidget>
    W* control(const char* name) const {
        return Find<W>(window.get(), name);
    }
    // Clicks `name`. A click still running after `deadline` (an entry loop that nothing ends) is
    // ended as another operation would end it, and the case fails instead of hanging.
    void click(const char* name, std::chrono::milliseconds deadline = kClickDeadline) const {
        click(control<QPushButton>(name), deadline);
    }
    void click(QPushButton* button, std::chrono::milliseconds deadline = kClickDeadline) const {
        bool overran = false;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this, &overran] {
            overran = true;
            shared().Begin(shell::Operation::Standard());
        });
        timer.start(deadline);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY2(!overran, qPrintable(QString("%1 still ran after %2 ms: its loop was ended")
                                          .arg(button->objectName())
                                          .arg(deadline.count())));
    }
    void setText(const char* name, const QString& text) const {
        if (auto* edit = window->findChild<QLineEdit*>(name)) return edit->setText(text);
        if (auto* combo = window->findChild<QComboBox*>(name)) return combo->setEditText(text);
        if (auto* memo = window->findChild<QPlainTextEdit*>(name)) return memo->setPlainText(text);
        qWarning("no text control %s", name);
    }
    QString text(const char* name) const {
        if (auto* edit = window->findChild<QLineEdit*>(name)) return edit->text();
        if (auto* combo = window->findChild<QComboBox*>(name)) return combo->currentText();
        if (auto* memo = window->findChild<QPlainTextEdit*>(name)) return memo->toPlainText();
        return "<no control>";
    }

    // Opens com1 at `baud` through the page and checks that it worked.
    bool openPort(const QString& baud = "9600") const {
        setText("comboPort", "com1");
        setText("comboBoundRate", baud);
        click("btOpenCom");
        return status() == "succeed in opening the serial";
    }

    // The speed the driver set on the pad's line, read from the slave side of the pty.
    speed_t lineSpeed() const {
        const int fd = ::open(pad->DevicePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return 0;
        termios settings{};
        const speed_t speed = tcgetattr(fd, &settings) == 0 ? cfgetospeed(&settings) : 0;
        ::close(fd);
        return speed;
    }

    // Requests the pad has answered (command byte and payload each).
    std::vector<std::string> payloads() const {
        return pad->With([](padsim::PadSimulator& sim) { return sim.payloadLog(); });
    }
    std::size_t countPayload(const std::string& payload) const {
        const auto log = payloads();
        return static_cast<std::size_t>(std::count(log.begin(), log.end(), payload));
    }
    // Has the pad end an entry with its time-out byte one second after the entry opened.
    bool enablePadEntryTimeOut() const {
        return shared().Entries().PinPad_SetControlCode("201", 3) == 0;
    }
    padsim::Mode mode() const {
        return pad->With([](padsim::PadSimulator& sim) { return sim.mode(); });
    }
    std::uint64_t requests() const {
        return pad->With([](padsim::PadSimulator& sim) { return sim.requestCount(); });
    }

    WorkingFolder folder;
    DialogRecorder dialogs;
    std::unique_ptr<padsim::PtyPad> pad;
    std::unique_ptr<shell::TfmTestQm731> window;
};

// Chooses the entry `text` of a list, which runs the list's change handler.
inline void Choose(const PadRig& rig, const char* combo, const QString& text) {
    auto* box = rig.control<QComboBox>(combo);
    const int index = box->findText(text);
    if (index < 0) qWarning("%s has no entry %s", combo, qPrintable(text));
    box->setCurrentIndex(index);
}

inline bool ShowActive(const PadRig& rig) {
    rig.window->show();
    rig.window->activateWindow();
    return QTest::qWaitForWindowActive(rig.w());
}

// Runs `action` once the pad is in `mode` and the page's entry loop runs (its status is shown),
// from inside the loop that a click started: the loop keeps handling the window's events.
class WhenEntryRuns : public QObject {
public:
    WhenEntryRuns(const PadRig& rig, padsim::Mode mode, const QString& status,
                  const std::function<void()>& action) {
        auto* timer = new QTimer(this);
        timer->setInterval(5);
        connect(timer, &QTimer::timeout, this, [&rig, mode, status, action, timer] {
            if (rig.status() != status) return;
            if (rig.mode() != mode) return;
            timer->stop();
            action();
        });
        timer->start();
    }
};

inline QString KeyStoreText(const WorkingFolder& folder) {
    return FileText(folder.file("KeyStock.txt"));
}

}  // namespace testsupport
