#pragma once
// The steps of a detection after the network: the region of interest, the
// tracking of boxes across frames, the counts per class.

#include "bbox.h"

#include <opencv2/core.hpp>

#include <deque>
#include <string>
#include <vector>

namespace detection_steps {

// The ROI in effect on an image: (x, y, w, h) cut to the image; the whole
// image when w or h is 0 or less. Can be empty when the ROI lies outside.
cv::Rect effective_roi(int x, int y, int w, int h, cv::Size image);

// Drops the boxes whose centre (x + w/2, y + h/2, rounded down) lies outside
// roi; the order of the others is kept.
void keep_inside(std::vector<bbox_t>& boxes, const cv::Rect& roi);

// Gives every box a track id and a sighting count. Each box, in list order,
// takes over the track of the nearest box of its class in the newest history
// frame that has one within max_dist pixels (centre to centre) and not yet
// taken in this frame; otherwise it opens a new track with next_ids[class]
// (which then advances) and a count of 1. The frame then goes to the front
// of history, which keeps at most frame_buffer frames (at least 1).
// next_ids grows to cover every class id present, new entries 1.
void track(std::vector<bbox_t>& boxes, std::vector<unsigned>& next_ids,
           std::deque<std::vector<bbox_t>>& history, int max_dist, int frame_buffer);

// Boxes per class id, one entry per class (ids beyond are not counted).
std::vector<int> count_per_class(const std::vector<bbox_t>& boxes, size_t classes);

// "name: count" for every class with a positive count, in class order, joined
// by ", "; "" when none.
std::string count_text(const std::vector<int>& counts, const std::vector<std::string>& names);

} // namespace detection_steps
