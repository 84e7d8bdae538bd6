#pragma once
// Checks of a darknet network description before an engine is started.
//
// Debian's darknet package is a 2018 snapshot: it reads newer descriptions
// without complaint but builds another network from them (it ignores `groups`
// of [route], has no mish or swish activation and ignores `new_coords`), so
// its weights would not fit the description the server loads later.

#include <string>
#include <vector>

namespace nomu_ros {

struct CfgSection {
    std::string type; // "net", "convolutional", ... (without brackets)
    int line = 0;     // 1-based line of the header
    std::vector<std::pair<std::string, std::string>> options; // key, value (blanks removed)
    std::vector<int> optionLines;
    const std::string* find(const std::string& key) const;
};

// Parses a description the way darknet reads it: every blank of a line is
// removed, "#" and ";" lines are comments, "[type]" opens a section.
std::vector<CfgSection> parseCfg(const std::string& text);

struct NetworkProblem {
    bool found = false;
    std::string feature; // e.g. "groups in [route]", "activation=mish"
    int line = 0;
};

// The first thing the 2018 engine cannot build as written: a section type it
// does not know, `groups` of [route], an activation it does not have, or
// `new_coords` of [yolo].
NetworkProblem findLegacyEngineProblem(const std::vector<CfgSection>& sections);

// What no engine can train: an enciphered body, no [net] section first, no
// detection layer, or a detection layer whose classes differ from the data
// file's class count. Empty when the description is usable.
std::string findDescriptionProblem(const std::string& text, const std::vector<CfgSection>& sections,
                                   int dataClasses);

// The text with the setting `key` of [net] set to `value`: every line of [net]
// that sets it becomes "key = value", or that line is added after the [net]
// header when there is none. Other sections and comment lines stay as they are.
std::string withNetSetting(const std::string& text, const std::string& key, const std::string& value);

// withNetSetting for max_batches.
std::string withMaxBatches(const std::string& text, long maxBatches);

} // namespace nomu_ros
