#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

// What the front end asks of one engine run, read from its command-line text
// (all arguments joined by single spaces).
struct CommandLine {
    QChar downloadType = QLatin1Char('Z'); // A all VU, L latest VU, C card, Z cable check
    QString trepList;                      // Latest VU: the text between "[" and "]"
    qint32 latestDays = 0;                 // Latest VU: 0 to 366
    bool showWindow = false;               // "D"
    bool stayOpen = false;                 // "V"
    std::optional<qint32> top;             // window position in twips, "{top,left}"
    std::optional<qint32> left;
};

// Room for TREP 5, up to 19 listed TREPs and the end mark.
constexpr int kTrepSequenceSize = 21;
constexpr int kMaxListedTreps = kTrepSequenceSize - 2;
constexpr quint8 kTrepEnd = 255;
using TrepSequence = std::array<quint8, kTrepSequenceSize>;

// Removes every double quote at the start, then every one at the end.
QString stripQuotes(const QString& text);

CommandLine parseCommandLine(const QString& text);

// A Latest VU list is usable when it holds 1 to 19 entries of three characters.
bool isUsableTrepList(const QString& trepList);

// The TREPs to request in order, TREP 5 first, ended by 255. For "Z" only the end mark.
TrepSequence buildTrepSequence(const CommandLine& command);

// The number at the start of text as the front end writes it ("28", " 4200", "59.5"),
// rounded halves to even; nothing when the whole text is not a number that fits.
std::optional<qint32> wholeNumber(const QString& text);
