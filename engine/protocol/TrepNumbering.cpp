#include "TrepNumbering.h"

#include <array>

namespace {

// An entry and its TREP in the first generation, version 1 and version 2 numbering.
struct Numbers {
    qint32 entry;
    std::array<qint32, 3> trep;
    qint32 in(TrepNumbering numbering) const { return trep[size_t(numbering)]; }
};

// Detailed speed has one number in both second-generation versions; the card downloads and
// the end mark have the same number in every mode.
// clang-format off
constexpr Numbers kNumbers[] = {
    //                          first  version 1  version 2
    {TrepEntry::Overview,      {0x01,  0x21,      0x31}},
    {TrepEntry::Activities,    {0x02,  0x22,      0x32}},
    {TrepEntry::EventsFaults,  {0x03,  0x23,      0x33}},
    {TrepEntry::DetailedSpeed, {0x04,  0x24,      0x24}},
    {TrepEntry::TechnicalData, {0x05,  0x25,      0x35}},
    {TrepEntry::Card,          {0x06,  0x06,      0x06}},
    {TrepEntry::MakerCard,     {0x17,  0x17,      0x17}},
    {TrepEntry::End,           {0xFF,  0xFF,      0xFF}},
};
// clang-format on

// Every other entry (a maker's own data) moves by this much: version 1 numbering adds 0x20
// to it, version 2 leaves the makers' range (0x11-0x1F) as it is.
constexpr Numbers kOtherOffset{0, {0x00, 0x20, 0x00}};

} // namespace

qint32 trepFor(qint32 entry, TrepNumbering numbering) {
    for (const Numbers& numbers : kNumbers)
        if (numbers.entry == entry) return numbers.in(numbering);
    return entry + kOtherOffset.in(numbering);
}

qint32 entryOf(qint32 trep, TrepNumbering numbering) {
    for (const Numbers& numbers : kNumbers)
        if (numbers.in(numbering) == trep) return numbers.entry;
    return trep - kOtherOffset.in(numbering);
}
