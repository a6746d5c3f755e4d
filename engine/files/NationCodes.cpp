#include "NationCodes.h"

#include <array>

namespace {

std::array<QString, 256> nationAlpha;

// Nation numbers 0x00 to 0x33 in order; the rest are reserved or group codes.
constexpr const char* kListed[] = {
    "UNK", "A",   "AL", "AND", "ARM", "AZ",  "B",  "BG",  "BIH", "BY", "CH", "CY", "CZ",
    "D",   "DK",  "E",  "EST", "F",   "FIN", "FL", "FR",  "UK",  "GE", "GR", "H",  "HR",
    "I",   "IRL", "IS", "KZ",  "L",   "LT",  "LV", "M",   "MC",  "MD", "MK", "N",  "NL",
    "P",   "PL",  "RO", "RSM", "RUS", "S",   "SK", "SLO", "TM",  "TR", "UA", "V",  "YU"};

} // namespace

void fillNationAlpha() {
    const auto padded = [](const char* code) { return QString::fromLatin1(code).leftJustified(3); };
    nationAlpha.fill(padded("RFU"));
    for (size_t i = 0; i < std::size(kListed); ++i)
        nationAlpha[i] = padded(kListed[i]);
    nationAlpha[0xFD] = padded("EC");
    nationAlpha[0xFE] = padded("EUR");
    nationAlpha[0xFF] = padded("WLD");
}

QString nationLetters(quint8 nation) {
    if (nationAlpha[0].isEmpty()) fillNationAlpha();
    return nationAlpha[nation];
}
