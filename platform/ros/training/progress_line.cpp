#include "progress_line.h"

#include <regex>

namespace nomu_ros {

namespace {

// A number as printf's %f, %e or %g prints it, including nan and inf.
#define NUM "([-+]?(?:nan|inf|NaN|Inf|(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][-+]?[0-9]+)?))"

const std::regex& engineForm()
{
    static const std::regex re("^\\s*([0-9]+)\\s*:\\s*" NUM "\\s*,\\s*" NUM "\\s+avg(?:\\s+loss)?\\s*,\\s*" NUM
                               "\\s+rate\\s*,\\s*" NUM "\\s+seconds\\s*,\\s*([0-9]+)\\s+images(?:\\s*,.*)?\\s*$");
    return re;
}

const std::regex& trainerForm()
{
    static const std::regex re("^\\s*\\[\\s*([0-9]+)\\s*\\]\\s*" NUM "\\s*,\\s*" NUM "\\s+avg(?:\\s+loss)?\\s*,\\s*" NUM
                               "\\s+rate\\s*,\\s*" NUM "\\s+seconds\\s*,\\s*([0-9]+)\\s+images(?:\\s*,.*)?\\s*$");
    return re;
}

#undef NUM

} // namespace

std::optional<ProgressLine> parseProgressLine(const std::string& line)
{
    // Cheap pre-check: almost every line of engine output is not progress.
    if (line.find("images") == std::string::npos || line.find(" rate") == std::string::npos)
        return std::nullopt;
    std::smatch m;
    if (!std::regex_match(line, m, engineForm()) && !std::regex_match(line, m, trainerForm()))
        return std::nullopt;
    ProgressLine p;
    p.iteration = m[1];
    p.loss = m[2];
    p.avg = m[3];
    p.rate = m[4];
    p.seconds = m[5];
    p.images = m[6];
    return p;
}

std::string trainerProgressText(const ProgressLine& p)
{
    return "[ " + p.iteration + " ] " + p.loss + ", " + p.avg + " avg, " + p.rate + " rate, " + p.seconds
        + " seconds, " + p.images + " images";
}

std::optional<std::string> translateProgressLine(const std::string& line)
{
    const auto p = parseProgressLine(line);
    if (!p)
        return std::nullopt;
    return trainerProgressText(*p);
}

} // namespace nomu_ros
