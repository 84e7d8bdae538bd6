#include "train_arguments.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace nomu_ros {

const char* const kLegacyEnginePath = "/usr/bin/darknet";

TrainArguments parseTrainArguments(const std::vector<std::string>& args)
{
    TrainArguments a;
    a.all = args;
    if (args.size() < 4 || args[0] != "detector" || args[1] != "train")
        return a;
    a.detectorTrain = true;
    a.dataFile = args[2];
    a.cfgFile = args[3];
    size_t next = 4;
    if (args.size() > 4 && !args[4].empty() && args[4][0] != '-') {
        a.weights = args[4];
        next = 5;
    } else if (args.size() > 4 && args[4].empty()) {
        next = 5; // an empty weights argument counts as none
    }
    a.flags.assign(args.begin() + static_cast<long>(next), args.end());
    return a;
}

namespace {

std::string searchPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = dirs.substr(start, end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return name;
}

} // namespace

EngineChoice chooseEngine(const char* nomuDarknet)
{
    EngineChoice c;
    if (!nomuDarknet || !*nomuDarknet) {
        c.path = kLegacyEnginePath;
        c.legacy = true;
        return c;
    }
    std::string path = nomuDarknet;
    if (path.find('/') == std::string::npos)
        path = searchPath(path);
    c.path = path;
    std::error_code ec;
    c.legacy = fs::equivalent(path, kLegacyEnginePath, ec) && !ec;
    return c;
}

std::vector<std::string> engineTrainArguments(const TrainArguments& args, bool legacy,
                                              const std::string& dataFile, const std::string& cfgFile,
                                              const std::string& weights)
{
    std::vector<std::string> out = {"detector", "train", dataFile, cfgFile};
    if (!weights.empty())
        out.push_back(weights);
    for (const std::string& f : args.flags)
        if (!(legacy && f == "-dont_show"))
            out.push_back(f);
    return out;
}

std::vector<std::string> enginePassThroughArguments(const TrainArguments& args, bool legacy)
{
    std::vector<std::string> out;
    for (const std::string& a : args.all)
        if (!(legacy && a == "-dont_show"))
            out.push_back(a);
    return out;
}

std::string darknetBaseName(const std::string& cfgPath)
{
    const size_t slash = cfgPath.rfind('/');
    std::string name = slash == std::string::npos ? cfgPath : cfgPath.substr(slash + 1);
    const size_t dot = name.find('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

bool parseMaxBatchesKnob(const char* value, long& maxBatches, std::string& error)
{
    maxBatches = 0;
    if (!value || !*value)
        return true;
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(value, &end, 10);
    if (errno != 0 || !end || *end != '\0' || n < 1) {
        error = std::string("NOMU_TRAIN_MAX_BATCHES=") + value + " is not a whole number of 1 or more";
        return false;
    }
    maxBatches = n;
    return true;
}

} // namespace nomu_ros
