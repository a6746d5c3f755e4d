#pragma once

#include <QtGlobal>

// Lamp animation modes.
enum LedModeValue : qint16 { kLedIdle = 3, kLedRunning = 4, kLedComplete = 5, kLedFailed = 6 };

// One tick's work for the window: light or darken one lamp, then perhaps a new interval
// or the end of the animation.
struct LedStep {
    int lamp = -1; // -1: no lamp changes
    bool lit = false;
    int interval = 0; // milliseconds to the next tick; 0 keeps the current interval
    bool stopTimer = false;
    bool failed = false; // lit in the failure's own look
};

// The lamp state machine driven by the window's lamp timer.
class LedAnimator {
public:
    LedStep tick();

    qint16 mode = kLedIdle;
    qint32 index = 0;
    qint32 litLamp = -1;
};
