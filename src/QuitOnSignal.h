#pragma once

namespace velk {

// Ends the run on SIGTERM, SIGINT and SIGHUP (a desktop logout, a shutdown,
// `kill`, Ctrl+C, a closed terminal) as closing the window does: the
// application quits, so that main leaves the network and tells the simulator
// before the process ends. Once it has begun, a second Ctrl+C (SIGINT) ends
// the process at once; a SIGTERM or SIGHUP changes nothing.
// Call once, after the application object exists. Nothing on Windows.
void quitOnTerminationSignals();

} // namespace velk
