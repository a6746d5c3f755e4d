#include "MessageLog.h"

#include <QFile>

bool MessageLog::createEmpty() const {
    QFile file(filePath_);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

void MessageLog::line(const QString& text) {
    const QString line = text + QStringLiteral("\r\n");
    appendToArea(line);
    appendToFile(line);
}

void MessageLog::hex(const QByteArray& bytes) {
    const QString dump = hexDump(bytes);
    appendToArea(dump);
    appendToFile(dump);
}

QString MessageLog::hexDump(const QByteArray& bytes) {
    if (bytes.isEmpty()) return QString();
    return QString::fromLatin1(bytes.toHex(' ').toUpper()) + QLatin1Char(' ');
}

void MessageLog::appendToFile(const QString& text) const {
    if (!loggingOn_ || filePath_.isEmpty()) return;
    // A failed write (disk full, folder gone) must not stop a download: the line has
    // reached the message area already.
    QFile file(filePath_);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) file.write(text.toUtf8());
}

void MessageLog::appendToArea(const QString& text) {
    area_ += text;
    if (area_.size() > kAreaLimit) area_.remove(0, area_.size() - kAreaLimit);
    if (onAreaChanged) onAreaChanged(area_);
}
