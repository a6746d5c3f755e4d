#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Tachograph times are 32-bit counts of seconds since 1970-01-01 00:00:00, sent most
// significant byte first. A count is held in a qint32 whose bits, read unsigned, are the
// seconds: instants after 2038-01-19 03:14:07 are negative, and the count reaches up to
// 2106-02-07 06:28:15. All arithmetic is in UTC; no time-zone shift is ever applied.

// Second 0 of the count, the first instant the count cannot reach (2^32 s), and the last
// instant whose count fits a signed 32-bit integer (2^31 - 1 s). Set by setDateLimits.
extern QDateTime timeBase;
extern QDateTime timeWrap;
extern QDateTime timeSignedLimit;

void setDateLimits();

// The date's calendar fields are taken as UTC, whatever its time spec says. Instants outside
// 1970-01-01 .. 2106-02-07 06:28:15 wrap modulo 2^32.
qint32 dateToSeconds(const QDateTime& d);
// Four bytes, most significant first; -1 gives FF FF FF FF.
QByteArray secondsToBytes(qint32 n);
// "Unknown" for FF FF FF FF, "No info." for 00 00 00 00 and for fewer than four bytes
// (a field cut short carries no time); only the first four bytes are read.
QString bytesToDateText(const QByteArray& b);
// "No info." for 0; otherwise the date text of n's bits read unsigned.
QString secondsToDateText(qint32 n);
// "yyyy-MM-dd HH:mm:ss", or "yyyy-MM-dd" alone at midnight.
QString dateText(const QDateTime& d);
