#pragma once
// Small text and file helpers shared by the training executables' units.

#include <string>
#include <vector>

namespace nomu_ros {

std::vector<std::string> splitWhitespace(const std::string& text);
// The lines of a text, without their "\n" (and a "\r" before it).
std::vector<std::string> splitLines(const std::string& text);
std::string trim(const std::string& text);
// The text with every blank (space, tab, line end) taken out.
std::string removeBlanks(const std::string& text);
bool startsWith(const std::string& text, const std::string& prefix);
bool endsWith(const std::string& text, const std::string& suffix);

// Reads a whole file; false when it cannot be opened.
bool readTextFile(const std::string& path, std::string& content);
// Writes a file through a temporary file in the same folder renamed over the
// target, so a reader never sees it half written; false on failure.
bool writeFileAtomically(const std::string& path, const std::string& content);
// Copies a file the same way.
bool copyFileAtomically(const std::string& from, const std::string& to);

} // namespace nomu_ros
