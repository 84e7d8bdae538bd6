#pragma once
// Translation of a darknet engine's per-iteration line into the trainer's form.
//
// Engines print, per iteration, one of
//   "N: loss, avg avg, rate rate, S seconds, I images"              (2018 darknet)
//   "N: loss, avg avg loss, rate rate, S seconds, I images"         (later forks)
//   " N: loss, avg avg loss, rate rate, S seconds, I images, H hours left"
// The trainer parses "[ N ] loss, avg avg, rate rate, S seconds, I images".

#include <optional>
#include <string>

namespace nomu_ros {

struct ProgressLine {
    std::string iteration, loss, avg, rate, seconds, images;
};

// The fields of a progress line in any of the forms above (or already in the
// trainer's form); nothing for any other line. Numbers keep the engine's text,
// so "-nan" stays "-nan".
std::optional<ProgressLine> parseProgressLine(const std::string& line);

// "[ N ] loss, avg avg, rate rate, S seconds, I images" (no newline).
std::string trainerProgressText(const ProgressLine& p);

// parseProgressLine followed by trainerProgressText.
std::optional<std::string> translateProgressLine(const std::string& line);

} // namespace nomu_ros
