#include "SerialLinkQt.h"

#include "DevicePaths.h"

#include <QDir>
#include <sys/prctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr int kWriteWaitMs = 1000;
constexpr auto kPauseMargin = std::chrono::microseconds(100);
} // namespace

int BaudRateForCode(int baudCode) {
    static constexpr int kRates[] = {9600, 19200, 38400, 57600, 115200};
    return baudCode >= 1 && baudCode <= 5 ? kRates[baudCode - 1] : 0;
}

QString SettingsTextForCode(int baudCode) {
    return QStringLiteral("%1,e,8,1").arg(BaudRateForCode(baudCode));
}

SerialLinkQt::SerialLinkQt(int comPortNumber) {
    // The default 50 us timer slack would be added to every pause between request bytes.
    ::prctl(PR_SET_TIMERSLACK, 1000UL);
    port_.setPortName(PortPath(comPortNumber));
    QObject::connect(&port_, &QSerialPort::readyRead, [this] {
        const QByteArray piece = port_.readAll();
        if (!piece.isEmpty() && onReceived) onReceived(piece);
    });
    QObject::connect(&port_, &QSerialPort::errorOccurred,
                     [this](QSerialPort::SerialPortError error) { handleError(error); });
}

QString SerialLinkQt::PortPath(int comPortNumber) {
    return TtyUsbNode(comPortNumber);
}

std::optional<SerialLink::Error> SerialLinkQt::open(int baudCode) {
    // Every setting before open(): a pty refuses a later change that only touches parity.
    if (const int rate = BaudRateForCode(baudCode)) port_.setBaudRate(rate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::EvenParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    if (port_.open(QIODevice::ReadWrite)) {
        // Bytes that arrived while the port was closed belong to nobody. The output side is
        // left alone: it may still hold the end of the last request.
        port_.clear(QSerialPort::Input);
        return std::nullopt;
    }
    Error error;
    error.number = int(port_.error());
    error.description = port_.errorString();
    const bool reachable = ::access(port_.portName().toLocal8Bit().constData(), R_OK | W_OK) == 0;
    if (port_.error() == QSerialPort::DeviceNotFoundError)
        error.kind = OpenFailure::NotAvailable;
    else if (port_.error() == QSerialPort::PermissionError && reachable)
        error.kind = OpenFailure::InUse; // we may use it, so another program holds it
    port_.clearError();
    return error;
}

void SerialLinkQt::close() {
    if (port_.isOpen()) port_.close();
}

void SerialLinkQt::writeByte(char byte) {
    if (!port_.isOpen()) return;
    lastWrite_ = std::chrono::steady_clock::now();
    port_.write(&byte, 1);
    port_.waitForBytesWritten(kWriteWaitMs);
}

void SerialLinkQt::drain() {
    if (!port_.isOpen()) return;
    while (port_.bytesToWrite() > 0 && port_.waitForBytesWritten(kWriteWaitMs)) {
    }
    // The kernel and the adapter may still hold the last bytes: let them leave the wire
    // before the speed changes.
    ::tcdrain(int(port_.handle()));
}

// Counted from the last byte handed over, so the time the write itself took is not added;
// a small margin keeps the unit's 5 ms minimum between bytes when the kernel hands a byte on
// a little later than the next one.
void SerialLinkQt::pause(std::chrono::milliseconds duration) {
    std::this_thread::sleep_until(lastWrite_ + duration + kPauseMargin);
}

std::optional<bool> SerialLinkQt::dataTerminalReady() const {
    const bool level = port_.isDataTerminalReady();
    const bool known = port_.error() == QSerialPort::NoError;
    port_.clearError();
    return known ? std::optional(level) : std::nullopt;
}

std::optional<bool> SerialLinkQt::requestToSend() const {
    const bool level = port_.isRequestToSend();
    const bool known = port_.error() == QSerialPort::NoError;
    port_.clearError();
    return known ? std::optional(level) : std::nullopt;
}

void SerialLinkQt::handleError(QSerialPort::SerialPortError error) {
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError) return;
    if (!port_.isOpen()) return;
    // The port reports this again and again until it is closed: close it at the first.
    // Qt's own text may carry a stale errno from earlier calls, so the kind says it.
    const QString description = error == QSerialPort::ResourceError
                                    ? QStringLiteral("Serial port disconnected")
                                    : QStringLiteral("Serial port read error");
    port_.close();
    if (onLost) onLost(description);
}
