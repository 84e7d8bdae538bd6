#pragma once
// What the training executables make of an engine's output and its end.
//
// stdout lines that report an iteration are translated into the trainer's form,
// everything else passes through. Both streams are watched for the weights the
// engine saves and for "Couldn't open file", after which darknet ends with
// status 0 although nothing was trained.

#include <cstdint>
#include <string>
#include <vector>

namespace nomu_ros {

class EngineOutputMonitor {
public:
    // backupDir and baseName name the weights the trainer exports:
    // <backupDir>/<baseName>.backup.
    EngineOutputMonitor(std::string backupDir, std::string baseName);

    // One complete stdout line (without "\n"); returns what to print for it,
    // newline included: "\n[ N ] ... images\n" for a progress line, else the
    // line and "\n".
    std::string onStdoutLine(const std::string& line);
    void onStderrLine(const std::string& line);

    // The engine is gone (or is known to have finished its saves): saves seen
    // so far are complete. Publishes the last completed "_last" or "_final"
    // weights as <base>.backup.
    void completeSaves();

    long iterations() const { return iterations_; }
    bool couldNotOpenFile() const { return !couldNotOpen_.empty(); }
    const std::string& couldNotOpenLine() const { return couldNotOpen_; }
    bool weightsSaved() const { return completedSaves_ > 0; }
    bool finalWeightsSaved() const { return finalSaved_; }
    bool saveAfterLastProgress() const { return saveAfterProgress_; }
    // Count of "Saving weights to" lines seen so far.
    size_t savesAnnounced() const { return savesAnnounced_; }
    std::string backupPath() const;
    // Notes for stderr gathered while publishing (for example a refused copy).
    std::vector<std::string> takeNotes();

private:
    void onAnyLine(const std::string& line);

    std::string backupDir_, base_;
    long iterations_ = 0;
    std::string couldNotOpen_;
    std::vector<std::string> pendingSaves_;
    int completedSaves_ = 0;
    bool finalSaved_ = false;
    bool saveAfterProgress_ = false;
    size_t savesAnnounced_ = 0;
    std::uintmax_t knownSize_ = 0; // size of a complete weights file of this run
    std::vector<std::string> notes_;
};

struct EngineEnd {
    bool stopRequested = false; // we forwarded SIGTERM (or SIGINT/SIGHUP)
    int stopSignal = 0;
    bool exited = false;   // WIFEXITED
    int exitCode = 0;
    int termSignal = 0;    // WTERMSIG when killed by a signal
    bool startFailed = false;
};

// The executable's exit status for an engine run, and a line for stderr
// explaining a failure (empty on success):
// - stopped on request: 128 + the signal (143 for SIGTERM);
// - "Couldn't open file" seen: 1, whatever the engine's status;
// - killed by a signal: 0 only when the final weights had been saved (the 2018
//   engine sometimes crashes while freeing memory at its very end), else 1;
// - engine status non-zero: that status;
// - status 0 without any saved weights: 1 (nothing was trained).
int decideExitStatus(const EngineOutputMonitor& monitor, const EngineEnd& end, std::string& message);

} // namespace nomu_ros
