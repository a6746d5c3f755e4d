#pragma once

#include <functional>

// Runs handler on the event loop when the process is asked to end (SIGTERM, SIGINT, SIGHUP), the
// way the front end asks the engine's windows to close.
void OnTerminationRequest(std::function<void()> handler);
