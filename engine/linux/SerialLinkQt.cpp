#include "SerialLinkQt.h"

#include "DevicePaths.h"

#include <QDir>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int kWriteWaitMs = 1000;
// The scheduler wakes a sleeper some tens of microseconds late; the last stretch of a pause
// is waited out awake so that the next byte leaves on time.
constexpr qint64 kAwakeNs = 100000;

timespec monotonicNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

qint64 toNanoseconds(const timespec& t) {
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

timespec fromNanoseconds(qint64 ns) {
    return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
}

// Returns `duration` after `from` (at once when that has passed).
void pauseUntil(const timespec& from, std::chrono::milliseconds duration) {
    const qint64 deadline = toNanoseconds(from) + std::chrono::nanoseconds(duration).count();
    const timespec wake = fromNanoseconds(deadline - kAwakeNs);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    }
    while (toNanoseconds(monotonicNow()) < deadline) {
    }
}
} // namespace

int baudRateForCode(int baudCode) {
    static constexpr int kRates[] = {9600, 19200, 38400, 57600, 115200};
    return baudCode >= 1 && baudCode <= 5 ? kRates[baudCode - 1] : 0;
}

QString settingsTextForCode(int baudCode) {
    return QStringLiteral("%1,e,8,1").arg(baudRateForCode(baudCode));
}

SerialLinkQt::SerialLinkQt(int comPortNumber) {
    // The default 50 us timer slack would be added to every pause between request bytes.
    ::prctl(PR_SET_TIMERSLACK, 1000UL);
    const QByteArray trace = qgetenv("VANTREL_WIRE_TRACE");
    if (!trace.isEmpty())
        traceFd_ =
            ::open(trace.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    port_.setPortName(portPath(comPortNumber));
    QObject::connect(&port_, &QSerialPort::readyRead, [this] {
        const QByteArray piece = port_.readAll();
        if (piece.isEmpty()) return;
        lastReceived_ = monotonicNow();
        if (onReceived) onReceived(piece);
    });
    QObject::connect(&port_, &QSerialPort::errorOccurred,
                     [this](QSerialPort::SerialPortError error) { handleError(error); });
}

SerialLinkQt::~SerialLinkQt() {
    if (traceFd_ >= 0) ::close(traceFd_);
}

QString SerialLinkQt::portPath(int comPortNumber) {
    return ttyUsbNode(comPortNumber);
}

std::optional<SerialLink::Error> SerialLinkQt::open(int baudCode) {
    // Every setting before open(): a pty refuses a later change that only touches parity.
    if (const int rate = baudRateForCode(baudCode)) port_.setBaudRate(rate);
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

// Straight to the descriptor: a byte is on its way when the call returns, and no event is
// handled in between (QSerialPort's waits would deliver an answer in the middle of a request).
void SerialLinkQt::writeByte(char byte) {
    if (!port_.isOpen()) return;
    const int fd = int(port_.handle());
    timespec start{};
    for (;;) {
        start = monotonicNow();
        if (::write(fd, &byte, 1) == 1) break;
        if (errno == EINTR) continue;
        if (errno == EAGAIN) { // the output buffer is full: wait for room, but not forever
            pollfd room{fd, POLLOUT, 0};
            const int ready = ::poll(&room, 1, kWriteWaitMs);
            if (ready > 0 || (ready < 0 && errno == EINTR)) continue;
            lose(QStringLiteral("Serial port write timed out"));
            return;
        }
        lose(errno == EIO || errno == ENXIO || errno == ENODEV
                 ? QStringLiteral("Serial port disconnected")
                 : QStringLiteral("Serial port write error"));
        return;
    }
    lastWrite_ = monotonicNow();
    if (traceFd_ >= 0) {
        char line[64];
        const int size =
            std::snprintf(line, sizeof line, "%lld %lld %02X\n", (long long)toNanoseconds(start),
                          (long long)toNanoseconds(lastWrite_), unsigned(quint8(byte)));
        [[maybe_unused]] const ssize_t written = ::write(traceFd_, line, size_t(size));
    }
}

void SerialLinkQt::drain() {
    // The kernel and the adapter may still hold the last bytes: let them leave the wire
    // before the speed changes.
    if (port_.isOpen()) ::tcdrain(int(port_.handle()));
}

// An absolute deadline counted from the end of the call that handed the last byte over: a
// write that stalled is still followed by the whole pause, and the time spent since (logging,
// building the next byte) is not added.
void SerialLinkQt::pause(std::chrono::milliseconds duration) {
    if (port_.isOpen()) pauseUntil(lastWrite_, duration);
}

void SerialLinkQt::pauseAfterReceived(std::chrono::milliseconds duration) {
    if (port_.isOpen() && toNanoseconds(lastReceived_) > 0) pauseUntil(lastReceived_, duration);
}

QByteArray SerialLinkQt::takeReceived() {
    if (!port_.isOpen()) return {};
    QByteArray bytes = port_.readAll();
    char buffer[512];
    ssize_t n = 0;
    while ((n = ::read(int(port_.handle()), buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    if (!bytes.isEmpty()) lastReceived_ = monotonicNow();
    return bytes;
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
    lose(error == QSerialPort::ResourceError ? QStringLiteral("Serial port disconnected")
                                             : QStringLiteral("Serial port read error"));
}

void SerialLinkQt::lose(const QString& description) {
    port_.close();
    if (onLost) onLost(description);
}
