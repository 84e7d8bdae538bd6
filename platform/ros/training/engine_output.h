#pragma once
// What the training executables make of an engine's output and its end.
//
// stdout lines that report an iteration are translated into the trainer's form,
// everything else passes through. Both streams are watched for the weights the
// engine saves and for "Couldn't open file", after which darknet ends with
// status 0 although nothing was trained.

#include "darknet_cfg.h"

#include <string>
#include <vector>

namespace nomu_ros {

// Where a training engine's weights go. The engine saves into a folder of the
// executable's own; a save, once the engine has moved on, is taken out of its
// way (the engine rewrites "<base>.backup" in place every 100 iterations),
// checked against the size the description needs and only then copied into
// the trainer's backup folder under its own name, so that a cut save never
// replaces a whole one there.
struct WeightsPublishing {
    std::string engineDir;  // the engine's backup folder, e.g. "data/nomu_engine/backup/"
    std::string checkDir;   // where a save is taken to be checked, e.g. "data/nomu_engine/check"
    std::string publishDir; // the trainer's backup folder, e.g. "data/backup/"
    std::string baseName;   // the engine's base name, e.g. "train"
    darknet_cfg::NetInfo net; // the description, for its weight count
};

class EngineOutputMonitor {
public:
    // Translates the output only; saves are left as the engine made them.
    EngineOutputMonitor() = default;
    explicit EngineOutputMonitor(WeightsPublishing publishing);

    // One complete stdout line (without "\n"); returns what to print for it,
    // newline included: "\n[ N ] ... images\n" for a progress line, else the
    // line and "\n".
    std::string onStdoutLine(const std::string& line);
    void onStderrLine(const std::string& line);

    // The engine is gone (or is known to have finished its saves): saves seen
    // so far are complete. Each is checked and published under its own name;
    // the last whole "_last" or "_final" weights also become <base>.backup.
    void completeSaves();

    long iterations() const { return iterations_; }
    bool couldNotOpenFile() const { return !couldNotOpen_.empty(); }
    const std::string& couldNotOpenLine() const { return couldNotOpen_; }
    // At least one save was whole and published.
    bool weightsSaved() const { return completedSaves_ > 0; }
    // The final weights were whole and published (also as <base>.backup).
    bool finalWeightsSaved() const { return finalSaved_; }
    // The file of the trainer's backup folder that the final weights should
    // have become and did not (cut by the engine, or not copied); empty when
    // none failed.
    const std::string& finalWeightsFailure() const { return finalFailure_; }
    // Saves that were not whole.
    int cutSaves() const { return cutSaves_; }
    bool saveAfterLastProgress() const { return saveAfterProgress_; }
    // Count of "Saving weights to" lines seen so far.
    size_t savesAnnounced() const { return savesAnnounced_; }
    std::string backupPath() const;
    // Notes for stderr gathered while publishing (for example a refused copy).
    std::vector<std::string> takeNotes();

private:
    void onAnyLine(const std::string& line);
    bool isFinal(const std::string& name) const;

    bool publishing_ = false;
    WeightsPublishing pub_;
    long iterations_ = 0;
    std::string couldNotOpen_;
    std::vector<std::string> pendingSaves_;
    int completedSaves_ = 0;
    int cutSaves_ = 0;
    bool finalSaved_ = false;
    std::string finalFailure_;
    bool saveAfterProgress_ = false;
    size_t savesAnnounced_ = 0;
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
// - killed by SIGXFSZ (a file it wrote reached the file-size limit): 1;
// - final weights that were not saved whole: 1, naming the file;
// - killed by another signal: 0 only when the final weights had been saved
//   (the 2018 engine sometimes crashes while freeing memory at its very end),
//   else 1;
// - engine status non-zero: that status;
// - status 0 without any weights saved whole: 1 (nothing was trained).
int decideExitStatus(const EngineOutputMonitor& monitor, const EngineEnd& end, std::string& message);

} // namespace nomu_ros
