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

enum class InputStatus { Ok, Missing, Refused };

// Reads the whole regular file `path` of at most `limit` bytes. A FIFO, a
// device or a folder under that name is refused without being waited on.
// Anything but Ok leaves `content` empty and puts the reason, naming the
// path, into `error`.
InputStatus readInputFile(const std::string& path, long long limit, std::string& content, std::string& error);

// Looks whether `path` is a regular file that can be opened for reading,
// without waiting on whatever it is. Missing or Refused with the reason in
// `error` otherwise.
InputStatus checkInputFile(const std::string& path, std::string& error);

// Writes a file through a new file in the same folder that replaces the
// target only once every byte is in it, so a reader never sees it half
// written and a failed write (a full disk, a file-size limit) leaves the
// previous file; false with the system's reason in *error on failure.
bool writeFileAtomically(const std::string& path, const std::string& content, std::string* error = nullptr);
// Copies a regular file the same way.
bool copyFileAtomically(const std::string& from, const std::string& to, std::string* error = nullptr);

} // namespace nomu_ros
