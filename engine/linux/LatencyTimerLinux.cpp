#include "LatencyTimer.h"

#include "DevicePaths.h"
#include "MessageLog.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
constexpr int kSessionLatencyMs = 1;

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

std::optional<int> readValue(const QString& path) {
    bool ok = false;
    const int value = readSmallFile(path).trimmed().toInt(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// Unbuffered, so that the kernel's refusal (EINVAL, EIO) reaches us. Empty when written.
QString writeValue(const QString& path, int value) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return systemError(errno);
    const QByteArray text = QByteArray::number(value) + '\n';
    const ssize_t written = ::write(fd, text.constData(), size_t(text.size()));
    const int error = written < 0 ? errno : 0;
    ::close(fd);
    if (written == text.size()) return {};
    return error ? systemError(error) : QStringLiteral("short write");
}

// The driver's low-latency flag, set through the tty: ftdi_sio lets anyone who may open the
// port set it, and then uses 1 ms whatever the root-owned sysfs file held. Empty when set.
QString setLowLatencyFlag(const QString& node, bool on) {
    const int fd =
        ::open(QFile::encodeName(node).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return systemError(errno);
    serial_struct serial{};
    QString error;
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        error = systemError(errno);
    } else {
        serial.flags = on ? serial.flags | ASYNC_LOW_LATENCY : serial.flags & ~ASYNC_LOW_LATENCY;
        if (::ioctl(fd, TIOCSSERIAL, &serial) != 0) error = systemError(errno);
    }
    ::close(fd);
    return error;
}
} // namespace

QString LatencyTimer::latencyFilePath(int comPortNumber) {
    return QDir(usbSerialDevicesFolder())
        .filePath(QStringLiteral("ttyUSB%1/latency_timer").arg(comPortNumber));
}

void LatencyTimer::lower(int comPortNumber, MessageLog& log) {
    const QString path = latencyFilePath(comPortNumber);
    const std::optional<int> old = readValue(path);
    if (!old || *old == kSessionLatencyMs)
        return; // not an FTDI port, or already as fast as it gets (the udev rule)
    // Only what the kernel then reports counts as done.
    QString refused = writeValue(path, kSessionLatencyMs);
    if (refused.isEmpty() && readValue(path) == kSessionLatencyMs) {
        path_ = path;
        saved_ = old;
        log.line(QStringLiteral("Latency timer %1 ms -> %2 ms").arg(*old).arg(kSessionLatencyMs));
        return;
    }
    if (refused.isEmpty()) refused = QStringLiteral("not taken");

    const QString node = ttyUsbNode(comPortNumber);
    QString flag = setLowLatencyFlag(node, true);
    if (flag.isEmpty() && readValue(path) == kSessionLatencyMs) {
        path_ = path;
        node_ = node;
        saved_ = old;
        log.line(QStringLiteral("Latency timer %1 ms -> %2 ms (low-latency flag)")
                     .arg(*old)
                     .arg(kSessionLatencyMs));
        return;
    }
    if (flag.isEmpty()) {
        setLowLatencyFlag(node, false); // it changed nothing: leave the port as it was
        flag = QStringLiteral("not taken");
    }
    log.line(QStringLiteral("Latency timer %1 ms, can't be changed (%2; low-latency flag: %3)")
                 .arg(*old)
                 .arg(refused, flag));
}

void LatencyTimer::restore(MessageLog* log) {
    if (!saved_) return;
    QString refused =
        node_.isEmpty() ? writeValue(path_, *saved_) : setLowLatencyFlag(node_, false);
    if (refused.isEmpty() && readValue(path_) != saved_) refused = QStringLiteral("not taken");
    if (log)
        log->line(refused.isEmpty()
                      ? QStringLiteral("Latency timer back to %1 ms").arg(*saved_)
                      : QStringLiteral("Latency timer can't be set back to %1 ms (%2)")
                            .arg(*saved_)
                            .arg(refused));
    saved_.reset();
    node_.clear();
}
