#pragma once

#include <functional>

// Runs handler on the event loop when the process is asked to end (SIGTERM, SIGINT, SIGHUP), the
// way the front end asks the engine's windows to close.
void onTerminationRequest(std::function<void()> handler);

// A reader of standard error that has gone (a headless command that ended) is no reason to
// end: the write fails, and the download goes on to restore the cable and save its file.
// Called first thing, before anything can write.
void ignoreClosedPipes();
