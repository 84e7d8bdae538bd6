#include "engine_output.h"

#include "progress_line.h"
#include "text_util.h"

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace nomu_ros {

namespace {

std::string inFolder(std::string dir, const std::string& name)
{
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir + "/" + name;
}

} // namespace

EngineOutputMonitor::EngineOutputMonitor(WeightsPublishing publishing)
    : publishing_(true), pub_(std::move(publishing))
{
}

std::string EngineOutputMonitor::backupPath() const
{
    return inFolder(pub_.publishDir, pub_.baseName + ".backup");
}

bool EngineOutputMonitor::isFinal(const std::string& name) const
{
    return name == pub_.baseName + "_final.weights";
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
    std::vector<std::string> saves;
    saves.swap(pendingSaves_);
    if (!publishing_)
        return;
    const long long needed = 20 + pub_.net.weight_floats * 4;
    std::string toBackup; // the checked file that becomes <base>.backup
    std::vector<std::string> taken;
    for (const std::string& path : saves) {
        const std::string name = fs::path(path).filename().string();
        std::error_code ec;
        if (name.empty() || !fs::equivalent(fs::path(path).parent_path(), pub_.engineDir, ec)) {
            notes_.push_back("the engine saved " + path + " outside its folder " + pub_.engineDir + "; not used");
            continue;
        }
        const std::string target = inFolder(pub_.publishDir, name);
        // Taken out of the engine's way first: its next save of this name
        // makes a new file and can no longer change the one checked here.
        const std::string checked = inFolder(pub_.checkDir, name);
        fs::rename(path, checked, ec);
        if (ec) {
            // Gone (announced twice, or the engine could not create it).
            if (ec != std::errc::no_such_file_or_directory)
                notes_.push_back("cannot take " + path + " to check it: " + ec.message());
            continue;
        }
        taken.push_back(checked);
        const bool regular = fs::is_regular_file(fs::symlink_status(checked, ec));
        const std::uintmax_t size = regular ? fs::file_size(checked, ec) : 0;
        if (!regular || ec || !darknet_cfg::check_weights_file_size(pub_.net, static_cast<long long>(size), nullptr)) {
            ++cutSaves_;
            notes_.push_back("weights file " + path + " holds " + std::to_string(size) + " bytes; the description "
                             "needs " + std::to_string(needed) + " (a 20-byte header and "
                             + std::to_string(pub_.net.weight_floats) + " floats); " + target + " is not replaced");
            if (isFinal(name))
                finalFailure_ = target;
            continue;
        }
        std::string why;
        if (!copyFileAtomically(checked, target, &why)) {
            notes_.push_back("cannot copy " + path + " to " + target + ": " + why);
            if (isFinal(name))
                finalFailure_ = target;
            continue;
        }
        ++completedSaves_;
        if (name == pub_.baseName + "_last.weights" || isFinal(name))
            toBackup = checked;
    }
    if (!toBackup.empty()) {
        std::string why;
        const bool final = isFinal(fs::path(toBackup).filename().string());
        if (!copyFileAtomically(toBackup, backupPath(), &why)) {
            notes_.push_back("cannot copy " + toBackup + " to " + backupPath() + ": " + why);
            if (final)
                finalFailure_ = backupPath();
        } else if (final) {
            finalSaved_ = true;
        }
    }
    for (const std::string& path : taken) {
        std::error_code ec;
        fs::remove(path, ec);
    }
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
    const std::string sig = "signal " + std::to_string(end.termSignal) + " (" + strsignal(end.termSignal) + ")";
    const std::string finalCut = monitor.finalWeightsFailure().empty() ? std::string()
        : "the final weights could not be saved whole as " + monitor.finalWeightsFailure() + ", which keeps what it held";
    if (!end.exited && end.termSignal == SIGXFSZ) {
        message = "training failed: the engine was ended by " + sig + ": a file it wrote reached the file-size limit"
            + (finalCut.empty() ? "" : "; " + finalCut)
            + (monitor.weightsSaved() ? "; the weights saved whole so far are kept" : "");
        return 1;
    }
    if (!finalCut.empty()) {
        message = "training failed: " + finalCut;
        return 1;
    }
    if (!end.exited) {
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
        message = monitor.cutSaves() > 0 ? "training failed: the engine saved no weights whole"
                                         : "training failed: the engine ended without saving any weights";
        return 1;
    }
    return 0;
}

} // namespace nomu_ros
