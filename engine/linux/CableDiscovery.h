#pragma once

#include "D2xx.h"

#include <QString>
#include <QtGlobal>
#include <functional>

class MessageLog;
class StatusFile;

struct CableState {
    qint32 comPortNumber = 0;
    FT_HANDLE cableHandle = nullptr; // held only between FT_Open and FT_Close
    // Set when the outcome has been reported in full (message box, status): the caller then
    // ends the engine at once, without a message of its own.
    bool engineMustEnd = false;
    // Tells whether the engine was closed while a message box was open: nothing more may
    // happen then, not even a status line.
    std::function<bool()> closed;
};

// The text of the box that says no cable is attached, in the user's language.
QString noCableText();

// Finds the download cable among the attached FTDI devices by its description, opens it
// briefly for its driver version and port number, and closes it again. Returns 0 when
// comPortNumber holds the cable's port; any other value is a failure. After an unreadable
// driver version the cable stays open in cableHandle for the caller to close. A cable that
// another program holds open is reported (re-plug advice) and not opened.
qint32 locateCable(MessageLog& log, StatusFile& status, CableState& cable);
