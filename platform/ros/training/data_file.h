#pragma once
// darknet's data description ("obj.data"): "key = value" lines.

#include <map>
#include <string>

namespace nomu_ros {

// Reads the keys the way darknet does: blanks are removed from every line,
// "#" and ";" lines are comments, the key ends at the first "=".
std::map<std::string, std::string> parseDataFile(const std::string& text);

// The label text darknet 2018 reads for an image path: the first "images",
// "JPEGImages" and "raw" become "labels", then the first ".jpg", ".png", ".JPG"
// or ".JPEG" becomes ".txt".
std::string legacyLabelPathOf(const std::string& imagePath);

} // namespace nomu_ros
