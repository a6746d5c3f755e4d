#include "Conversions.h"

#include <QtEndian>

QDateTime TimeBase;
QDateTime TimeWrap;
QDateTime TimeSignedLimit;

namespace {

QDateTime UtcDate(int year, int month, int day) {
    return QDateTime(QDate(year, month, day), QTime(0, 0), Qt::UTC);
}

// The conversions also work when start-up has not set the limits yet (tools, tests).
void EnsureDateLimits() {
    if (!TimeBase.isValid()) SetDateLimits();
}

// Modulo 2^32: the bits of a count, whichever reference instant it was taken from.
qint32 Wrap32(qint64 seconds) {
    return static_cast<qint32>(static_cast<quint32>(seconds));
}

} // namespace

void SetDateLimits() {
    TimeBase = UtcDate(1970, 1, 1);
    TimeWrap = UtcDate(2106, 1, 1).addSecs(3220096);
    TimeSignedLimit = UtcDate(2038, 1, 1).addSecs(1566847);
}

qint32 DateToSeconds(const QDateTime& d) {
    EnsureDateLimits();
    const QDateTime utc(d.date(), d.time(), Qt::UTC);
    if (utc <= TimeSignedLimit) return Wrap32(TimeBase.secsTo(utc));
    return Wrap32(TimeWrap.secsTo(utc));
}

QByteArray SecondsToBytes(qint32 n) {
    QByteArray bytes(4, '\0');
    qToBigEndian(static_cast<quint32>(n), bytes.data());
    return bytes;
}

QString BytesToDateText(const QByteArray& b) {
    if (b.size() < 4) return QStringLiteral("No info.");
    const quint32 seconds = qFromBigEndian<quint32>(b.constData());
    if (seconds == 0xFFFFFFFFu) return QStringLiteral("Unknown");
    if (seconds == 0) return QStringLiteral("No info.");
    return SecondsToDateText(static_cast<qint32>(seconds));
}

QString SecondsToDateText(qint32 n) {
    if (n == 0) return QStringLiteral("No info.");
    EnsureDateLimits();
    return DateText(TimeBase.addSecs(static_cast<quint32>(n)));
}

QString DateText(const QDateTime& d) {
    if (d.time() == QTime(0, 0)) return d.toString(QStringLiteral("yyyy-MM-dd"));
    return d.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
