#include "engine_folder.h"

#include "data_file.h"
#include "input_limits.h"
#include "label_decoding.h"
#include "text_util.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace nomu_ros {

const char* const kEngineFolderName = "nomu_engine";

namespace {

// Reported one by one up to this many, then only counted.
constexpr int kMaxReportedProblems = 20;

std::string parentOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return path.substr(0, slash);
}

std::string labelTextOf(const std::string& imagePath)
{
    const size_t slash = imagePath.rfind('/');
    const size_t dot = imagePath.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return imagePath + ".txt";
    return imagePath.substr(0, dot) + ".txt";
}

bool linkImage(const std::string& image, const std::string& link)
{
    std::error_code ec;
    const fs::path target = fs::absolute(image, ec);
    if (ec)
        return false;
    fs::create_symlink(target, link, ec);
    if (!ec)
        return true;
    fs::create_hard_link(target, link, ec);
    if (!ec)
        return true;
    return copyFileAtomically(image, link);
}

} // namespace

bool prepareEngineFolder(const std::string& trainerDataFile, EngineFolder& out, std::string& error,
                         const std::function<void(const std::string&)>& warn)
{
    out = EngineFolder();
    std::string text, why;
    // A missing file keeps its short message; any other refusal says why.
    const auto readInput = [&](const std::string& what, const std::string& path, long long limit,
                               std::string& content) {
        const InputStatus st = readInputFile(path, limit, content, why);
        if (st != InputStatus::Ok)
            error = "cannot read " + what + " " + path + (st == InputStatus::Refused ? ": " + why : "");
        return st == InputStatus::Ok;
    };
    if (!readInput("the data file", trainerDataFile, input_limits::kTrainingDataFileBytes, text))
        return false;
    const auto keys = parseDataFile(text);
    const auto get = [&keys](const char* key, const std::string& fallback) {
        const auto it = keys.find(key);
        return (it == keys.end() || it->second.empty()) ? fallback : it->second;
    };
    out.classes = std::atoi(get("classes", "0").c_str());
    if (out.classes < 1) {
        error = trainerDataFile + " has no class count of 1 or more (classes = " + get("classes", "") + ")";
        return false;
    }
    const std::string trainList = get("train", "");
    if (trainList.empty()) {
        error = trainerDataFile + " names no training list (train = ...)";
        return false;
    }
    const std::string names = get("names", "data/obj.names");
    out.backupDir = get("backup", "data/backup/");

    std::error_code ec;
    fs::create_directories(out.backupDir, ec);
    if (!fs::is_directory(out.backupDir)) {
        error = "cannot create the backup folder " + out.backupDir;
        return false;
    }

    std::string listText;
    if (!readInput("the training list", trainList, input_limits::kTrainingListBytes, listText))
        return false;

    const std::string parent = parentOf(trainerDataFile);
    out.folder = parent.empty() ? kEngineFolderName : parent + "/" + kEngineFolderName;
    out.dataFile = out.folder + "/obj.data";
    out.engineBackupDir = out.folder + "/backup/";
    out.checkDir = out.folder + "/check";
    const std::string imgDir = out.folder + "/img";
    // remove_all removes a symbolic link itself, never what it points to.
    fs::remove_all(out.folder, ec);
    if (ec || !fs::create_directories(imgDir, ec)) {
        error = "cannot create the folder " + imgDir;
        return false;
    }
    for (const std::string& dir : {out.engineBackupDir, out.checkDir}) {
        fs::create_directories(dir, ec);
        if (ec || !fs::is_directory(dir, ec)) {
            error = "cannot create the folder " + dir;
            return false;
        }
    }

    int reported = 0;
    const auto report = [&](const std::string& msg) {
        if (reported++ < kMaxReportedProblems)
            warn(msg);
    };

    std::string engineList;
    for (const std::string& raw : splitLines(listText)) {
        const std::string image = trim(raw);
        if (image.empty())
            continue;
        if (!fs::is_regular_file(image, ec)) {
            ++out.skippedImages;
            report("image " + image + " is missing; left out of training");
            continue;
        }
        const std::string labels = labelTextOf(image);
        std::string labelText;
        const InputStatus read = readInputFile(labels, input_limits::kLabelTextBytes, labelText, why);
        if (read != InputStatus::Ok) {
            ++out.skippedImages;
            report("label text " + labels + " of " + image
                   + (read == InputStatus::Missing ? " is missing" : " cannot be read (" + why + ")")
                   + "; image left out of training");
            continue;
        }
        std::string decoded;
        const auto lines = splitLines(labelText);
        for (size_t i = 0; i < lines.size(); ++i) {
            const DecodedLabel d = decodeLabelLine(lines[i], out.classes);
            if (d.kind == DecodedLabel::Empty)
                continue;
            if (d.kind == DecodedLabel::Bad) {
                ++out.badLines;
                report(labels + " line " + std::to_string(i + 1) + ": " + d.error + "; line skipped");
                continue;
            }
            if (d.kind == DecodedLabel::Outside) {
                ++out.outsideBoxes;
                report(labels + " line " + std::to_string(i + 1) + ": " + d.error + "; left out");
                continue;
            }
            decoded += darknetLabelLine(d) + "\n";
            ++out.objects;
        }
        const std::string stem = imgDir + "/" + std::to_string(out.images + 1);
        const std::string link = stem + ".jpg";
        // The engine looks for the labels where its own path rewrite leads.
        if (legacyLabelPathOf(link) != stem + ".txt") {
            error = "the engine would look for the labels of " + link + " elsewhere (its path holds "
                "\"images\" or \"raw\")";
            return false;
        }
        if (!linkImage(image, link)) {
            error = "cannot link " + image + " into " + imgDir;
            return false;
        }
        if (!writeFileAtomically(stem + ".txt", decoded, &why)) {
            error = "cannot write " + stem + ".txt: " + why;
            return false;
        }
        engineList += link + "\n";
        ++out.images;
    }
    if (reported > kMaxReportedProblems)
        warn(std::to_string(reported - kMaxReportedProblems) + " more problems not shown");
    if (out.badLines > 0)
        warn(std::to_string(out.badLines) + " label line(s) refused in all");
    if (out.images == 0) {
        error = "no usable image in the training list " + trainList;
        return false;
    }

    const std::string listFile = out.folder + "/train.txt";
    const std::string data = "classes = " + std::to_string(out.classes) + "\n" + "train  = " + listFile + "\n"
        + "valid  = " + listFile + "\n" + "names = " + names + "\n" + "backup = " + out.engineBackupDir + "\n";
    if (!writeFileAtomically(listFile, engineList, &why) || !writeFileAtomically(out.dataFile, data, &why)) {
        error = "cannot write the list and data file in " + out.folder + ": " + why;
        return false;
    }
    return true;
}

} // namespace nomu_ros
