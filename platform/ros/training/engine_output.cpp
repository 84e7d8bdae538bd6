#include "engine_output.h"

#include "progress_line.h"
#include "text_util.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace nomu_ros {

EngineOutputMonitor::EngineOutputMonitor(std::string backupDir, std::string baseName)
    : backupDir_(std::move(backupDir)), base_(std::move(baseName))
{
}

std::string EngineOutputMonitor::backupPath() const
{
    std::string dir = backupDir_;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir + "/" + base_ + ".backup";
}

std::string EngineOutputMonitor::onStdoutLine(const std::string& line)
{
    std::string clean = line;
    if (!clean.empty() && clean.back() == '\r')
        clean.pop_back();
    if (const auto p = parseProgressLine(clean)) {
        ++iterations_;
        // A new iteration means the saves announced before it are written.
        completeSaves();
        saveAfterProgress_ = false;
        return "\n" + trainerProgressText(*p) + "\n";
    }
    onAnyLine(clean);
    return line + "\n";
}

void EngineOutputMonitor::onStderrLine(const std::string& line)
{
    std::string clean = line;
    if (!clean.empty() && clean.back() == '\r')
        clean.pop_back();
    onAnyLine(clean);
}

void EngineOutputMonitor::onAnyLine(const std::string& line)
{
    if (couldNotOpen_.empty() && line.find("Couldn't open file") != std::string::npos)
        couldNotOpen_ = trim(line);
    const std::string marker = "Saving weights to ";
    const size_t at = line.find(marker);
    if (at != std::string::npos) {
        pendingSaves_.push_back(trim(line.substr(at + marker.size())));
        ++savesAnnounced_;
        saveAfterProgress_ = true;
    }
}

void EngineOutputMonitor::completeSaves()
{
    std::string publish;
    for (const std::string& path : pendingSaves_) {
        std::error_code ec;
        if (!fs::is_regular_file(path, ec))
            continue;
        const std::uintmax_t size = fs::file_size(path, ec);
        if (ec || size == 0)
            continue;
        if (knownSize_ == 0)
            knownSize_ = size;
        if (size != knownSize_) {
            notes_.push_back("weights file " + path + " has " + std::to_string(size) + " bytes where this run "
                             "saved " + std::to_string(knownSize_) + "; not used as " + base_ + ".backup");
            continue;
        }
        ++completedSaves_;
        const std::string name = fs::path(path).filename().string();
        if (name == base_ + "_final.weights")
            finalSaved_ = true;
        if (name == base_ + "_last.weights" || name == base_ + "_final.weights")
            publish = path;
    }
    pendingSaves_.clear();
    if (publish.empty())
        return;
    std::string why;
    if (!copyFileAtomically(publish, backupPath(), &why))
        notes_.push_back("cannot copy " + publish + " to " + backupPath() + ": " + why);
}

std::vector<std::string> EngineOutputMonitor::takeNotes()
{
    std::vector<std::string> out;
    out.swap(notes_);
    return out;
}

int decideExitStatus(const EngineOutputMonitor& monitor, const EngineEnd& end, std::string& message)
{
    message.clear();
    if (end.startFailed) {
        message = "the engine could not be started";
        return 1;
    }
    if (end.stopRequested)
        return 128 + end.stopSignal;
    if (monitor.couldNotOpenFile()) {
        message = "training failed: the engine reported \"" + monitor.couldNotOpenLine() + "\"";
        return 1;
    }
    if (!end.exited) {
        const std::string sig = "signal " + std::to_string(end.termSignal) + " (" + strsignal(end.termSignal) + ")";
        if (monitor.finalWeightsSaved()) {
            message = "the engine ended by " + sig + " after saving its final weights; the run counts as done";
            return 0;
        }
        if (monitor.weightsSaved()) {
            message = "training failed: the engine crashed by " + sig + " after "
                + std::to_string(monitor.iterations()) + " iterations; the weights saved so far are kept";
            return 1;
        }
        message = "training failed: the engine crashed by " + sig + " before any weights were saved";
        return 1;
    }
    if (end.exitCode != 0) {
        message = "training failed: the engine ended with status " + std::to_string(end.exitCode);
        return end.exitCode;
    }
    if (!monitor.weightsSaved()) {
        message = "training failed: the engine ended without saving any weights";
        return 1;
    }
    return 0;
}

} // namespace nomu_ros
