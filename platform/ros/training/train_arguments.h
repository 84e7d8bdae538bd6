#pragma once
// Command-line handling of the training executables and the choice of engine.
//
// The trainer starts "rosrun nomu_lib_yolo darknet_cpu_ detector train
// data/obj.data <cfg> <weights> -dont_show" in the training folder.

#include <string>
#include <vector>

namespace nomu_ros {

struct TrainArguments {
    bool detectorTrain = false; // "detector train <data> <cfg> ..."
    std::string dataFile;
    std::string cfgFile;
    std::string weights;            // empty when none was given
    std::vector<std::string> flags; // what follows (e.g. "-dont_show")
    std::vector<std::string> all;   // every argument as given
};

TrainArguments parseTrainArguments(const std::vector<std::string>& args);

// Debian's darknet package, a 2018 snapshot.
extern const char* const kLegacyEnginePath;

struct EngineChoice {
    std::string path;    // what is executed
    bool legacy = true;  // the 2018 engine: its limits apply
};

// NOMU_DARKNET unset or empty: Debian's darknet. Otherwise the named program
// (searched in PATH when the name has no "/"), taken as a newer darknet unless
// it is the same file as Debian's.
EngineChoice chooseEngine(const char* nomuDarknet);

// The engine's arguments for a training run: "detector train <data> <cfg>
// [weights] flags...". The 2018 engine does not know "-dont_show" and, without
// a weights argument, would take it for the weights path: it is left out there.
std::vector<std::string> engineTrainArguments(const TrainArguments& args, bool legacy,
                                              const std::string& dataFile, const std::string& cfgFile,
                                              const std::string& weights);

// Other commands pass through, without "-dont_show" for the 2018 engine.
std::vector<std::string> enginePassThroughArguments(const TrainArguments& args, bool legacy);

// darknet's name for the weights of a description: its file name up to the
// first "." ("data/train.cfg" and "/tmp/x/train.cfg" give "train").
std::string darknetBaseName(const std::string& cfgPath);

// NOMU_TRAIN_MAX_BATCHES: unset or empty means off (0). Otherwise a whole
// number from 1 on; false with `error` set for anything else.
bool parseMaxBatchesKnob(const char* value, long& maxBatches, std::string& error);

} // namespace nomu_ros
