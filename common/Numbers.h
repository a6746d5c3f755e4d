#pragma once

#include <QString>
#include <QtGlobal>

// Numbers typed by hand into the settings file and the Latest VU file, and the counts of a
// progress line, are read leniently: the leading number counts and what follows it is
// ignored.

// The leading decimal number after spaces: an optional sign, digits with an optional
// decimal point, an optional exponent. No number at all is 0.
double leadingNumber(const QString& text);

// The leading number rounded half to even and held to the 32-bit range instead of
// overflowing.
qint32 roundedNumber(const QString& text);
