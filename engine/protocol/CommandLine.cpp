#include "CommandLine.h"

#include <cmath>
#include <limits>

namespace {
constexpr qint32 kMaxLatestDays = 366;
constexpr int kTrepEntryWidth = 3;

// The leading decimal number of an entry, as far as its digits go ("01 " reads 1,
// "abc" reads 0); nothing when it cannot be a TREP byte.
std::optional<quint8> trepEntryOf(const QString& entry) {
    const QString digits = entry.trimmed();
    int value = 0;
    int i = 0;
    for (; i < digits.size() && digits[i].isDigit(); ++i)
        value = value * 10 + digits[i].digitValue();
    if (value > 255) return std::nullopt;
    return quint8(value);
}

void readPosition(const QString& text, CommandLine& command) {
    const qsizetype open = text.indexOf(QLatin1Char('{'));
    const qsizetype comma = text.indexOf(QLatin1Char(','), open + 1);
    const qsizetype close = text.indexOf(QLatin1Char('}'), comma + 1);
    if (open < 0 || comma < 0 || close < 0) return;
    const QString top = text.mid(open + 1, comma - open - 1);
    const QString left = text.mid(comma + 1, close - comma - 1);
    if (!top.isEmpty()) command.top = wholeNumber(top);
    if (!left.isEmpty()) command.left = wholeNumber(left);
}

// The days held to 0..366 however large the number; text that is no number counts 0.
qint32 latestDays(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || std::isnan(value)) return 0;
    return qint32(std::clamp(std::nearbyint(value), 0.0, double(kMaxLatestDays)));
}

void readLatestVu(const QString& text, CommandLine& command, QString& remainder) {
    const qsizetype open = text.indexOf(QLatin1Char('['));
    const qsizetype close = open < 0 ? -1 : text.indexOf(QLatin1Char(']'), open + 1);
    if (close < 0) return; // no list: refused later as an invalid TREP list
    command.trepList = text.mid(open + 1, close - open - 1);
    remainder = text.mid(close + 1).trimmed();
    const qsizetype space = remainder.indexOf(QLatin1Char(' '));
    if (space < 0) return; // the days count only when something follows them
    command.latestDays = latestDays(remainder.left(space));
}
} // namespace

QString stripQuotes(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char('"'))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char('"'))
        --end;
    return text.mid(begin, end - begin);
}

std::optional<qint32> wholeNumber(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    const double rounded = std::nearbyint(value); // halves to even
    if (rounded < std::numeric_limits<qint32>::min() ||
        rounded > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(rounded);
}

CommandLine parseCommandLine(const QString& rawText) {
    const QString text = stripQuotes(rawText);
    CommandLine command;
    QString optionsText = text;
    if (text.contains(QLatin1Char('A'))) {
        command.downloadType = QLatin1Char('A');
    } else if (text.contains(QLatin1Char('L'))) {
        command.downloadType = QLatin1Char('L');
        optionsText.clear();
        readLatestVu(text, command, optionsText);
    } else if (text.contains(QLatin1Char('C'))) {
        command.downloadType = QLatin1Char('C');
    }
    command.showWindow = optionsText.contains(QLatin1Char('D'));
    command.stayOpen = optionsText.contains(QLatin1Char('V'));
    readPosition(optionsText, command);
    return command;
}

bool isUsableTrepList(const QString& trepList) {
    const qsizetype entries = (trepList.size() + kTrepEntryWidth - 1) / kTrepEntryWidth;
    return trepList.size() >= kTrepEntryWidth && entries <= kMaxListedTreps;
}

TrepSequence buildTrepSequence(const CommandLine& command) {
    TrepSequence sequence;
    sequence.fill(kTrepEnd);
    const char kind = command.downloadType.toLatin1();
    if (kind == 'Z') return sequence;
    sequence[0] = 5;
    if (kind == 'A') {
        const quint8 all[] = {5, 1, 2, 3, 4, 5};
        std::copy(std::begin(all), std::end(all), sequence.begin());
    } else if (kind == 'C') {
        sequence[1] = 6;
    } else if (kind == 'L') {
        int index = 1;
        for (qsizetype at = 0; at < command.trepList.size() && index <= kMaxListedTreps;
             at += kTrepEntryWidth) {
            if (const auto trep = trepEntryOf(command.trepList.mid(at, kTrepEntryWidth)))
                sequence[index++] = *trep;
        }
    }
    return sequence;
}
