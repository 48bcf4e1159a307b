#pragma once

namespace velk {

// Ends the run on SIGTERM, SIGINT and SIGHUP (a desktop logout, a shutdown,
// `kill`, Ctrl+C, a closed terminal) as closing the window does: the
// application quits, so that main leaves the network and tells the simulator
// before the process ends. A second such signal ends the process at once.
// Call once, after the application object exists. Nothing on Windows.
void quitOnTerminationSignals();

} // namespace velk
