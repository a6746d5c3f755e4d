#include "Numbers.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

double leadingNumber(const QString& text) {
    // [0-9], not \d: only ASCII digits make a number here.
    static const QRegularExpression number(
        QStringLiteral("^ *([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)"));
    const QRegularExpressionMatch match = number.match(text);
    return match.hasMatch() ? match.captured(1).toDouble() : 0.0;
}

qint32 roundedNumber(const QString& text) {
    constexpr double lowest = std::numeric_limits<qint32>::min();
    constexpr double highest = std::numeric_limits<qint32>::max();
    // nearbyint rounds halves to the even neighbour; an overflow is an infinity, held too.
    return qint32(std::clamp(std::nearbyint(leadingNumber(text)), lowest, highest));
}
