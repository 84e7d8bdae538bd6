#pragma once
// The private folder the training executables give the engine.
//
// The trainer's label texts use its own encoding, and darknet finds an image's
// labels beside the image. So, next to the trainer's "data" files (which stay
// untouched), a folder "nomu_engine" holds for every listed image a link to it
// and its decoded label text, a list of those links and a data file naming the
// list, the trainer's class names and a backup folder of its own: the engine
// saves its weights there, and each save is checked before it is published
// into the trainer's backup folder.

#include <functional>
#include <string>

namespace nomu_ros {

struct EngineFolder {
    std::string folder;    // e.g. "data/nomu_engine"
    std::string dataFile;  // e.g. "data/nomu_engine/obj.data"
    std::string backupDir; // from the trainer's data file, e.g. "data/backup/"
    std::string engineBackupDir; // where the engine saves, e.g. "data/nomu_engine/backup/"
    std::string checkDir;  // where a save is taken to be checked, e.g. "data/nomu_engine/check"
    int classes = 0;
    int images = 0;        // images handed to the engine
    int objects = 0;       // label lines decoded
    int badLines = 0;      // label lines refused
    int outsideBoxes = 0;  // label lines left out: no part of the box in the image
    int skippedImages = 0; // listed images that are missing or have no label text
};

// Name of the private folder inside the data file's folder.
extern const char* const kEngineFolderName;

// Builds the private folder from the trainer's data file (a path relative to
// the working folder, as the trainer passes it). `warn` receives one text per
// problem worth a line on stderr. Returns false, with `error` set, when the
// engine cannot be given a usable training set.
bool prepareEngineFolder(const std::string& trainerDataFile, EngineFolder& out, std::string& error,
                         const std::function<void(const std::string&)>& warn);

} // namespace nomu_ros
