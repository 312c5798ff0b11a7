// The exit codes of ktr09-sim and ktr09-link, one per kind of outcome, as
// docs/exit-codes.md lists them (ktr09-config keeps the same table).
#pragma once

namespace sim {

constexpr int kExitDone = 0;
// The run could not go on for a cause outside the command line and the state
// directory: a port, socket or output file, the link, a station of the link.
constexpr int kExitRunFault = 1;
// A state directory or state file that cannot be created, read, written or
// taken whole, or one in use by another simulator; before or during the run.
constexpr int kExitStateError = 2;
// A command line, or a file it names (a scenario), that cannot be used.
constexpr int kExitUsage = 64;
// Stopped by Ctrl-C or SIGTERM, with the state saved: 128 + the signal.
constexpr int kExitInterrupted = 130;
constexpr int kExitTerminated = 143;

}  // namespace sim
