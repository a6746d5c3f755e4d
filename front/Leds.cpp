#include "Leds.h"

LedStep LedAnimator::Tick() {
    const bool lit = LedIndex == LitLed;
    LedStep step;
    switch (LedMode) {
    case kLedIdle:
        if (lit) {
            step = {LedIndex, false, 1100};
        } else {
            LedIndex = (LedIndex + 1) % 3;
            step = {LedIndex, true, 150};
        }
        break;
    case kLedRunning:
        step = {LedIndex, !lit, 250};
        break;
    case kLedComplete:
        step = lit ? LedStep{LedIndex, false, 1250} : LedStep{LedIndex, true, 50};
        break;
    case kLedFailed:
        step = {LedIndex, true, 0, true, true};
        break;
    default:
        return step;
    }
    LitLed = step.lit ? step.lamp : -1;
    return step;
}
