#pragma once
// Runs a darknet engine as a child process.
//
// The engine's stdout is a pseudo-terminal, so its C library flushes every line
// (into a pipe it would buffer whole blocks and the trainer would see progress
// only every few kilobytes). Its stderr is a pipe passed through as it comes.
// SIGTERM, SIGINT and SIGHUP are forwarded to the engine's process group; the
// engine also gets SIGKILL should this process die first. The engine starts
// with no signal blocked and SIGPIPE and SIGXFSZ at their defaults.

#include "engine_output.h"

#include <csignal>
#include <string>
#include <vector>

namespace nomu_ros {

struct EngineRunOptions {
    std::string engine;            // program to execute
    std::vector<std::string> args; // its arguments (without argv[0])
    std::string programName;       // prefix of our own stderr lines
    // Seconds a stop request waits for a weights save in progress to finish.
    double saveGraceSeconds = 5.0;
    // Seconds between the forwarded signal and SIGKILL.
    double killAfterSeconds = 5.0;
};

// The signals a run takes as stop requests (SIGTERM, SIGINT, SIGHUP) and
// SIGCHLD: blocked from the start of the program and read through a signalfd
// once the engine runs.
sigset_t stopSignalSet();

// Runs the engine to its end, feeding `monitor` and writing translated output
// to fd 1 and the engine's stderr to fd 2. A stop request waits for a file
// the engine holds open below `backupDir` (its weights save).
EngineEnd runEngine(const EngineRunOptions& options, EngineOutputMonitor& monitor, const std::string& backupDir);

} // namespace nomu_ros
