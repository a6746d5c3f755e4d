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

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

std::optional<int> ReadValue(const QString& path) {
    bool ok = false;
    const int value = ReadSmallFile(path).trimmed().toInt(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// Unbuffered, so that the kernel's refusal (EINVAL, EIO) reaches us. Empty when written.
QString WriteValue(const QString& path, int value) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return SystemError(errno);
    const QByteArray text = QByteArray::number(value) + '\n';
    const ssize_t written = ::write(fd, text.constData(), size_t(text.size()));
    const int error = written < 0 ? errno : 0;
    ::close(fd);
    if (written == text.size()) return {};
    return error ? SystemError(error) : QStringLiteral("short write");
}

// The driver's low-latency flag, set through the tty: ftdi_sio lets anyone who may open the
// port set it, and then uses 1 ms whatever the root-owned sysfs file held. Empty when set.
QString SetLowLatencyFlag(const QString& node, bool on) {
    const int fd =
        ::open(QFile::encodeName(node).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return SystemError(errno);
    serial_struct serial{};
    QString error;
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        error = SystemError(errno);
    } else {
        serial.flags = on ? serial.flags | ASYNC_LOW_LATENCY : serial.flags & ~ASYNC_LOW_LATENCY;
        if (::ioctl(fd, TIOCSSERIAL, &serial) != 0) error = SystemError(errno);
    }
    ::close(fd);
    return error;
}
} // namespace

QString LatencyTimer::FilePath(int comPortNumber) {
    return QDir(UsbSerialDevicesFolder())
        .filePath(QStringLiteral("ttyUSB%1/latency_timer").arg(comPortNumber));
}

void LatencyTimer::lower(int comPortNumber, MessageLog& log) {
    const QString path = FilePath(comPortNumber);
    const std::optional<int> old = ReadValue(path);
    if (!old || *old == kSessionLatencyMs)
        return; // not an FTDI port, or already as fast as it gets (the udev rule)
    // Only what the kernel then reports counts as done.
    QString refused = WriteValue(path, kSessionLatencyMs);
    if (refused.isEmpty() && ReadValue(path) == kSessionLatencyMs) {
        path_ = path;
        saved_ = old;
        log.sShowText(
            QStringLiteral("Latency timer %1 ms -> %2 ms").arg(*old).arg(kSessionLatencyMs));
        return;
    }
    if (refused.isEmpty()) refused = QStringLiteral("not taken");

    const QString node = TtyUsbNode(comPortNumber);
    QString flag = SetLowLatencyFlag(node, true);
    if (flag.isEmpty() && ReadValue(path) == kSessionLatencyMs) {
        path_ = path;
        node_ = node;
        saved_ = old;
        log.sShowText(QStringLiteral("Latency timer %1 ms -> %2 ms (low-latency flag)")
                          .arg(*old)
                          .arg(kSessionLatencyMs));
        return;
    }
    if (flag.isEmpty()) {
        SetLowLatencyFlag(node, false); // it changed nothing: leave the port as it was
        flag = QStringLiteral("not taken");
    }
    log.sShowText(QStringLiteral("Latency timer %1 ms, can't be changed (%2; low-latency flag: %3)")
                      .arg(*old)
                      .arg(refused, flag));
}

void LatencyTimer::restore(MessageLog* log) {
    if (!saved_) return;
    QString refused =
        node_.isEmpty() ? WriteValue(path_, *saved_) : SetLowLatencyFlag(node_, false);
    if (refused.isEmpty() && ReadValue(path_) != saved_) refused = QStringLiteral("not taken");
    if (log)
        log->sShowText(refused.isEmpty()
                           ? QStringLiteral("Latency timer back to %1 ms").arg(*saved_)
                           : QStringLiteral("Latency timer can't be set back to %1 ms (%2)")
                                 .arg(*saved_)
                                 .arg(refused));
    saved_.reset();
    node_.clear();
}
