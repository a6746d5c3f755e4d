#pragma once

#include <QtGlobal>

// Where the first-generation overview (TREP 1) holds the fields that name a download, counted
// from 1 at its 0x76: the engine reads them from the answer, the headless command from the file.
namespace Gen1Overview {
inline constexpr qsizetype kVinAt = 391;
inline constexpr qsizetype kVinSize = 17;
inline constexpr qsizetype kNationAt = 408;
inline constexpr qsizetype kVrnAt = 410;
inline constexpr qsizetype kVrnSize = 13;
inline constexpr qsizetype kCurrentTimeAt = 423;
inline constexpr qsizetype kOldestTimeAt = 427;
inline constexpr qsizetype kLatestTimeAt = 431;
inline constexpr qsizetype kTimeSize = 4;
} // namespace Gen1Overview
