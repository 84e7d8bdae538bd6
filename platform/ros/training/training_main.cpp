// The training executables darknet_ and darknet_cpu_ of the ROS package
// nomu_lib_yolo. The trainer starts them through rosrun in the training folder:
//   darknet_cpu_ detector train data/obj.data data/train.cfg <weights> -dont_show
// They decode the trainer's label texts into a private folder, check that the
// engine can build the network, start the engine and translate its progress.

#include "darknet_cfg.h"
#include "data_file.h"
#include "engine_folder.h"
#include "engine_output.h"
#include "engine_run.h"
#include "input_limits.h"
#include "network_check.h"
#include "text_util.h"
#include "train_arguments.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace nomu_ros;

namespace {

std::string g_name = "darknet_cpu_";

void say(const std::string& text)
{
    const std::string line = g_name + ": " + text + "\n";
    if (::write(2, line.data(), line.size()) < 0) {
        // nothing more to do when stderr is gone
    }
}

// Reads an input named on the command line; false after a line on stderr
// (the short one for a missing file, with the reason for any other refusal).
bool readInput(const std::string& what, const std::string& path, long long limit, std::string& content)
{
    std::string why;
    const InputStatus st = readInputFile(path, limit, content, why);
    if (st == InputStatus::Ok)
        return true;
    say("cannot read " + what + " " + path + (st == InputStatus::Refused ? ": " + why : ""));
    return false;
}

int runTraining(const TrainArguments& args, const EngineChoice& engine)
{
    // The description first: a refusal changes nothing in the training folder.
    std::string cfgText;
    if (!readInput("the network description", args.cfgFile, input_limits::kTrainingDescriptionBytes, cfgText))
        return 2;
    const std::vector<CfgSection> sections = parseCfg(cfgText);
    if (engine.legacy) {
        const NetworkProblem p = findLegacyEngineProblem(sections);
        if (p.found) {
            say("the installed darknet engine (" + engine.path + ", a 2018 build) cannot build this network: "
                + p.feature + " at line " + std::to_string(p.line) + " of " + args.cfgFile
                + "; set NOMU_DARKNET to the path of a newer darknet build to train it");
            return 2;
        }
    }
    std::string dataText;
    if (!readInput("the data file", args.dataFile, input_limits::kTrainingDataFileBytes, dataText))
        return 2;
    // The class count is checked against the description before any file is written.
    {
        const auto keys = parseDataFile(dataText);
        const auto it = keys.find("classes");
        const int dataClasses = it == keys.end() ? 0 : std::atoi(it->second.c_str());
        const std::string problem = findDescriptionProblem(cfgText, sections, dataClasses);
        if (!problem.empty()) {
            say(args.cfgFile + ": " + problem);
            return 2;
        }
    }
    // Every weights file the engine saves is checked against the floats the
    // description needs, counted as the detection server counts them. What
    // OpenCV would take to run the network is the server's limit, not the
    // engine's.
    darknet_cfg::NetInfo net;
    {
        std::string why;
        if (!darknet_cfg::analyse(cfgText, &net, &why, darknet_cfg::Bounds::Weights)) {
            say(args.cfgFile + ": the size of its weights cannot be known: " + why);
            return 2;
        }
    }

    long maxBatches = 0;
    std::string knobError;
    if (!parseMaxBatchesKnob(std::getenv("NOMU_TRAIN_MAX_BATCHES"), maxBatches, knobError)) {
        say(knobError);
        return 2;
    }
    if (::access(engine.path.c_str(), X_OK) != 0) {
        say("no training engine at " + engine.path
            + (engine.legacy ? " (install Debian's package darknet, or set NOMU_DARKNET to a darknet build)"
                             : " (NOMU_DARKNET names a program that cannot be run)"));
        return 2;
    }

    EngineFolder folder;
    std::string error;
    if (!prepareEngineFolder(args.dataFile, folder, error, say)) {
        say(error);
        return 2;
    }
    {
        std::string leftOut;
        if (folder.skippedImages)
            leftOut = std::to_string(folder.skippedImages) + " images left out";
        if (folder.outsideBoxes)
            leftOut += (leftOut.empty() ? "" : ", ") + std::to_string(folder.outsideBoxes) + " boxes left out";
        say(std::to_string(folder.images) + " images with " + std::to_string(folder.objects) + " objects decoded into "
            + folder.folder + (leftOut.empty() ? "" : " (" + leftOut + ")"));
    }

    // The engine opens the start weights itself: anything but a regular file
    // it can open (a FIFO would hold it for ever) counts as no weights.
    std::string weights = args.weights;
    std::string why;
    if (!weights.empty()) {
        const InputStatus st = checkInputFile(weights, why);
        if (st == InputStatus::Missing)
            say("start weights " + weights + " not found; training from scratch");
        else if (st == InputStatus::Refused)
            say("start weights not used (" + why + "); training from scratch");
        if (st != InputStatus::Ok)
            weights.clear();
    }

    // The engine names its weights after the description's file name, so a
    // shortened copy keeps that name.
    std::string cfgFile = args.cfgFile;
    if (maxBatches > 0) {
        cfgFile = folder.folder + "/" + fs::path(args.cfgFile).filename().string();
        if (!writeFileAtomically(cfgFile, withMaxBatches(cfgText, maxBatches), &why)) {
            say("cannot write " + cfgFile + ": " + why);
            return 2;
        }
        say("NOMU_TRAIN_MAX_BATCHES=" + std::to_string(maxBatches) + ": training ends after "
            + std::to_string(maxBatches) + " iterations");
    }

    if (g_name == "darknet_" && engine.legacy)
        say("no GPU engine named by NOMU_DARKNET; training on the CPU with " + engine.path);

    EngineRunOptions run;
    run.engine = engine.path;
    run.args = engineTrainArguments(args, engine.legacy, folder.dataFile, cfgFile, weights);
    run.programName = g_name;
    std::string shown = engine.path;
    for (const std::string& a : run.args)
        shown += " " + a;
    say("starting " + shown);

    EngineOutputMonitor monitor(
        WeightsPublishing{folder.engineBackupDir, folder.checkDir, folder.backupDir, darknetBaseName(args.cfgFile), net});
    const EngineEnd end = runEngine(run, monitor, folder.engineBackupDir);
    // The shortened copy may come from a deciphered description: it does not
    // stay behind in the training folder.
    if (cfgFile != args.cfgFile)
        std::remove(cfgFile.c_str());
    std::string message;
    const int status = decideExitStatus(monitor, end, message);
    if (!message.empty())
        say(message);
    return status;
}

int passThrough(const TrainArguments& args, const EngineChoice& engine)
{
    if (::access(engine.path.c_str(), X_OK) != 0) {
        say("no darknet engine at " + engine.path);
        return 2;
    }
    EngineRunOptions run;
    run.engine = engine.path;
    run.args = enginePassThroughArguments(args, engine.legacy);
    run.programName = g_name;
    EngineOutputMonitor monitor;
    const EngineEnd end = runEngine(run, monitor, "/nonexistent-backup-folder");
    if (end.startFailed)
        return 1;
    if (end.stopRequested)
        return 128 + end.stopSignal;
    return end.exited ? end.exitCode : 128 + end.termSignal;
}

} // namespace

int main(int argc, char** argv)
{
    g_name = fs::path(argc > 0 ? argv[0] : "darknet_cpu_").filename().string();

    // Stop requests are taken from here on and forwarded to the engine once
    // it runs; a trainer that dies stops this run too.
    const sigset_t mask = stopSignalSet();
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Beyond a file-size limit a write fails (EFBIG) and is reported instead
    // of ending the program. The engine starts with SIGXFSZ at its default
    // (runEngine), so that its unchecked writes past the limit end it.
    std::signal(SIGXFSZ, SIG_IGN);

    std::vector<std::string> args(argv + 1, argv + argc);
    const TrainArguments parsed = parseTrainArguments(args);
    const EngineChoice engine = chooseEngine(std::getenv("NOMU_DARKNET"));
    if (args.empty()) {
        say("usage: " + g_name + " detector train <data file> <network description> [weights] [-dont_show]");
        return 2;
    }
    if (!parsed.detectorTrain)
        return passThrough(parsed, engine);
    return runTraining(parsed, engine);
}
