#include "data_file.h"

#include "text_util.h"

namespace nomu_ros {

std::map<std::string, std::string> parseDataFile(const std::string& text)
{
    std::map<std::string, std::string> out;
    for (const std::string& raw : splitLines(text)) {
        const std::string line = removeBlanks(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

std::string legacyLabelPathOf(const std::string& imagePath)
{
    std::string p = imagePath;
    auto replaceFirst = [&p](const std::string& from, const std::string& to) {
        const size_t at = p.find(from);
        if (at != std::string::npos)
            p.replace(at, from.size(), to);
    };
    replaceFirst("images", "labels");
    replaceFirst("JPEGImages", "labels");
    replaceFirst("raw", "labels");
    replaceFirst(".jpg", ".txt");
    replaceFirst(".png", ".txt");
    replaceFirst(".JPG", ".txt");
    replaceFirst(".JPEG", ".txt");
    return p;
}

} // namespace nomu_ros
