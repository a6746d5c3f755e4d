#pragma once

#include <QtGlobal>

// Design measures of the engine window, in twips (15 to a pixel).
namespace DiagnosticsDesign {
constexpr int kTwipsPerPixel = 15;
constexpr int kInnerWidth = 8655;
constexpr int kInnerHeight = 5235;
} // namespace DiagnosticsDesign

struct DiagnosticsLayout {
    int messagesWidth;
    int messagesHeight;
    int statusTop;
    int revTop;
};

// Where the message area and the two labels go for an outer window size, all in twips.
constexpr DiagnosticsLayout layoutForOuterSize(int outerWidth, int outerHeight) {
    const int statusTop = outerHeight - 970;
    return {outerWidth - 600, outerHeight - 1380, statusTop, statusTop};
}
