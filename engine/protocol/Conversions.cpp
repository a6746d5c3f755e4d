#include "Conversions.h"

#include <QtEndian>

QDateTime timeBase;
QDateTime timeWrap;
QDateTime timeSignedLimit;

namespace {

QDateTime utcDate(int year, int month, int day) {
    return QDateTime(QDate(year, month, day), QTime(0, 0), Qt::UTC);
}

// The conversions also work when start-up has not set the limits yet (tools, tests).
void ensureDateLimits() {
    if (!timeBase.isValid()) setDateLimits();
}

// Modulo 2^32: the bits of a count, whichever reference instant it was taken from.
qint32 wrap32(qint64 seconds) {
    return static_cast<qint32>(static_cast<quint32>(seconds));
}

} // namespace

void setDateLimits() {
    timeBase = utcDate(1970, 1, 1);
    timeWrap = utcDate(2106, 1, 1).addSecs(3220096);
    timeSignedLimit = utcDate(2038, 1, 1).addSecs(1566847);
}

qint32 dateToSeconds(const QDateTime& d) {
    ensureDateLimits();
    const QDateTime utc(d.date(), d.time(), Qt::UTC);
    if (utc <= timeSignedLimit) return wrap32(timeBase.secsTo(utc));
    return wrap32(timeWrap.secsTo(utc));
}

QByteArray secondsToBytes(qint32 n) {
    QByteArray bytes(4, '\0');
    qToBigEndian(static_cast<quint32>(n), bytes.data());
    return bytes;
}

QString bytesToDateText(const QByteArray& b) {
    if (b.size() < 4) return QStringLiteral("No info.");
    const quint32 seconds = qFromBigEndian<quint32>(b.constData());
    if (seconds == 0xFFFFFFFFu) return QStringLiteral("Unknown");
    if (seconds == 0) return QStringLiteral("No info.");
    return secondsToDateText(static_cast<qint32>(seconds));
}

QString secondsToDateText(qint32 n) {
    if (n == 0) return QStringLiteral("No info.");
    ensureDateLimits();
    return dateText(timeBase.addSecs(static_cast<quint32>(n)));
}

QString dateText(const QDateTime& d) {
    if (d.time() == QTime(0, 0)) return d.toString(QStringLiteral("yyyy-MM-dd"));
    return d.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
