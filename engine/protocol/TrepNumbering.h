#pragma once

#include <QtGlobal>

// How the TREPs of a download are numbered on the wire. A session starts with the first
// generation's numbers, takes the version 2 numbers when the unit reports download interface
// version 2 or higher, and the version 1 numbers when a unit refuses a first-generation one.
enum class TrepNumbering { Gen1, Gen2V1, Gen2V2 };

// Entries of the TREP sequence: a kind of data by its first-generation number, or 255.
namespace TrepEntry {
constexpr qint32 Overview = 0x01;
constexpr qint32 Activities = 0x02;
constexpr qint32 EventsFaults = 0x03;
constexpr qint32 DetailedSpeed = 0x04;
constexpr qint32 TechnicalData = 0x05;
constexpr qint32 Card = 0x06;
constexpr qint32 MakerCard = 0x17; // one maker's own card download
constexpr qint32 End = 0xFF;
} // namespace TrepEntry

// The TREP that asks for a sequence entry in a numbering, and the entry a TREP asks for.
qint32 trepFor(qint32 entry, TrepNumbering numbering);
qint32 entryOf(qint32 trep, TrepNumbering numbering);

// The same request in another numbering.
inline qint32 renumbered(qint32 trep, TrepNumbering from, TrepNumbering to) {
    return trepFor(entryOf(trep, from), to);
}

// Transfer Data with this TRTP asks a unit for its download interface version.
constexpr quint8 kInterfaceVersionTrep = 0x00;
