#include "network_check.h"

#include "text_util.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace nomu_ros {

namespace {

// Section types of the 2018 darknet parser.
const std::set<std::string>& legacySections()
{
    static const std::set<std::string> s = {
        "net", "network", "shortcut", "crop", "cost", "detection", "region", "yolo", "iseg", "local",
        "conv", "convolutional", "deconv", "deconvolutional", "activation", "logistic", "l2norm",
        "crnn", "gru", "lstm", "rnn", "conn", "connected", "max", "maxpool", "reorg", "avg", "avgpool",
        "dropout", "lrn", "normalization", "batchnorm", "soft", "softmax", "route", "upsample"};
    return s;
}

// Activations of the 2018 darknet (anything else silently becomes ReLU).
const std::set<std::string>& legacyActivations()
{
    static const std::set<std::string> s = {"logistic", "loggy", "relu", "elu", "selu", "relie", "plse",
                                            "hardtan", "lhtan", "linear", "ramp", "leaky", "tanh", "stair"};
    return s;
}

bool isDetectionLayer(const std::string& type)
{
    return type == "yolo" || type == "region" || type == "detection" || type == "Gaussian_yolo"
        || type == "gaussian_yolo";
}

} // namespace

const std::string* CfgSection::find(const std::string& key) const
{
    for (const auto& kv : options)
        if (kv.first == key)
            return &kv.second;
    return nullptr;
}

std::vector<CfgSection> parseCfg(const std::string& text)
{
    std::vector<CfgSection> sections;
    const std::vector<std::string> lines = splitLines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = removeBlanks(lines[i]);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            CfgSection s;
            const size_t close = line.find(']');
            s.type = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
            s.line = static_cast<int>(i + 1);
            sections.push_back(s);
            continue;
        }
        if (sections.empty())
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        sections.back().options.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        sections.back().optionLines.push_back(static_cast<int>(i + 1));
    }
    return sections;
}

NetworkProblem findLegacyEngineProblem(const std::vector<CfgSection>& sections)
{
    NetworkProblem p;
    for (const CfgSection& s : sections) {
        if (!legacySections().count(s.type)) {
            p = {true, "section [" + s.type + "]", s.line};
            return p;
        }
        for (size_t i = 0; i < s.options.size(); ++i) {
            const std::string& key = s.options[i].first;
            const std::string& value = s.options[i].second;
            if (s.type == "route" && key == "groups" && value != "1") {
                p = {true, key + " in [route]", s.optionLines[i]};
                return p;
            }
            if (key == "activation" && !legacyActivations().count(value)) {
                p = {true, "activation=" + value, s.optionLines[i]};
                return p;
            }
            if (s.type == "yolo" && key == "new_coords" && std::atoi(value.c_str()) != 0) {
                p = {true, "new_coords in [yolo]", s.optionLines[i]};
                return p;
            }
        }
    }
    return p;
}

std::string findDescriptionProblem(const std::string& text, const std::vector<CfgSection>& sections,
                                   int dataClasses)
{
    if (text.find("<-<+>->") != std::string::npos)
        return "the network description is enciphered (only its deciphered form can be trained)";
    if (sections.empty() || (sections.front().type != "net" && sections.front().type != "network"))
        return "the network description has no [net] section at its start";
    bool detection = false;
    for (const CfgSection& s : sections) {
        if (!isDetectionLayer(s.type))
            continue;
        detection = true;
        const std::string* classes = s.find("classes");
        const int n = classes ? std::atoi(classes->c_str()) : -1;
        if (classes && n != dataClasses)
            return "[" + s.type + "] at line " + std::to_string(s.line) + " has classes=" + *classes
                + " but the data file has classes = " + std::to_string(dataClasses);
    }
    if (!detection)
        return "the network description has no detection layer ([yolo] or [region])";
    return {};
}

std::string withNetSetting(const std::string& text, const std::string& key, const std::string& value)
{
    const std::string setting = key + " = " + value;
    const std::string keyPrefix = removeBlanks(key) + "=";
    std::vector<std::string> lines;
    {
        std::string cur;
        for (char c : text) {
            if (c == '\n') {
                lines.push_back(cur);
                cur.clear();
            } else {
                cur += c;
            }
        }
        lines.push_back(cur);
    }
    bool inNet = false, replaced = false;
    int netHeader = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string s = removeBlanks(lines[i]);
        if (!s.empty() && s[0] == '[') {
            if (inNet)
                break;
            inNet = (s == "[net]" || s == "[network]");
            if (inNet)
                netHeader = static_cast<int>(i);
            continue;
        }
        if (inNet && startsWith(s, keyPrefix)) {
            lines[i] = setting;
            replaced = true;
        }
    }
    if (!replaced && netHeader >= 0)
        lines.insert(lines.begin() + netHeader + 1, setting);
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        out += lines[i];
        if (i + 1 < lines.size())
            out += '\n';
    }
    return out;
}

std::string withMaxBatches(const std::string& text, long maxBatches)
{
    return withNetSetting(text, "max_batches", std::to_string(maxBatches));
}

} // namespace nomu_ros
