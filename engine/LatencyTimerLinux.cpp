#include "LatencyTimer.h"

#include "DevicePaths.h"
#include "MessageLog.h"

#include <QDir>
#include <QFile>

namespace {
constexpr int kSessionLatencyMs = 1;

std::optional<int> ReadValue(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    bool ok = false;
    const int value = file.readAll().trimmed().toInt(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

bool WriteValue(const QString& path, int value) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray::number(value) + '\n') > 0;
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
        return; // not an FTDI port, or already as fast as it gets
    if (!WriteValue(path, kSessionLatencyMs)) {
        log.sShowText(QStringLiteral("Latency timer %1 ms, can't be changed").arg(*old));
        return;
    }
    path_ = path;
    saved_ = old;
    log.sShowText(QStringLiteral("Latency timer %1 ms -> %2 ms").arg(*old).arg(kSessionLatencyMs));
}

void LatencyTimer::restore(MessageLog* log) {
    if (!saved_) return;
    const bool restored = WriteValue(path_, *saved_);
    if (log)
        log->sShowText(
            restored ? QStringLiteral("Latency timer back to %1 ms").arg(*saved_)
                     : QStringLiteral("Latency timer can't be set back to %1 ms").arg(*saved_));
    saved_.reset();
}
