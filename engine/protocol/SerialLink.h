#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

// The session's contract with the cable's serial port. The Qt backend drives a real tty;
// unit tests put a scripted link behind it.
class SerialLink {
public:
    enum class OpenFailure { NotAvailable, InUse, Other };
    struct Error {
        OpenFailure kind = OpenFailure::Other;
        int number = 0;
        QString description;
    };

    virtual ~SerialLink() = default;

    // Opens the port at the speed of baud code 1 to 5 (9600 to 115200 baud, 8E1).
    virtual std::optional<Error> open(int baudCode) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Hands one byte to the port at once. Nothing received is delivered meanwhile: what
    // arrives while a request is being written waits until the event loop runs again.
    virtual void writeByte(char byte) = 0;
    // Waits until everything written has left the port.
    virtual void drain() = 0;
    // Returns `duration` after the last byte was handed over, counted from the end of the
    // call that handed it over (at once when the port is shut).
    virtual void pause(std::chrono::milliseconds duration) = 0;
    // Returns `duration` after the last piece of received bytes came in (at once when nothing
    // came yet or the port is shut): the unit may not listen again before then.
    virtual void pauseAfterReceived(std::chrono::milliseconds duration) = 0;
    // Waits this long from now, nothing else running meanwhile.
    virtual void wait(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }
    // The clock of the pauses and waits.
    virtual std::chrono::steady_clock::time_point now() const {
        return std::chrono::steady_clock::now();
    }
    // Takes what has arrived and not been delivered yet.
    virtual QByteArray takeReceived() = 0;
    // The line levels as the port reports them; nothing where it cannot tell (a pty).
    virtual std::optional<bool> dataTerminalReady() const = 0;
    virtual std::optional<bool> requestToSend() const = 0;

    // Called with every piece of received bytes.
    std::function<void(const QByteArray&)> onReceived;
    // Called once when the other side has gone away (cable pulled, pty closed).
    std::function<void(const QString& description)> onLost;
};

// Port speed of each baud code, and its settings text as logged.
int baudRateForCode(int baudCode);
QString settingsTextForCode(int baudCode);
