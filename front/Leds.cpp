#include "Leds.h"

LedStep LedAnimator::tick() {
    const bool lit = index == litLamp;
    LedStep step;
    switch (mode) {
    case kLedIdle:
        if (lit) {
            step = {index, false, 1100};
        } else {
            index = (index + 1) % 3;
            step = {index, true, 150};
        }
        break;
    case kLedRunning:
        step = {index, !lit, 250};
        break;
    case kLedComplete:
        step = lit ? LedStep{index, false, 1250} : LedStep{index, true, 50};
        break;
    case kLedFailed:
        step = {index, true, 0, true, true};
        break;
    default:
        return step;
    }
    litLamp = step.lit ? step.lamp : -1;
    return step;
}
