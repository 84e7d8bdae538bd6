#include "detection_steps.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <utility>

namespace detection_steps {

cv::Rect effective_roi(int x, int y, int w, int h, cv::Size image)
{
    const cv::Rect whole(0, 0, image.width, image.height);
    if (w <= 0 || h <= 0)
        return whole;
    // Widen before adding, so that large values cannot overflow.
    const long long x1 = std::min<long long>(static_cast<long long>(x) + w, image.width);
    const long long y1 = std::min<long long>(static_cast<long long>(y) + h, image.height);
    const long long x0 = std::max(x, 0), y0 = std::max(y, 0);
    if (x1 <= x0 || y1 <= y0)
        return cv::Rect();
    return cv::Rect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                    static_cast<int>(y1 - y0));
}

void keep_inside(std::vector<bbox_t>& boxes, const cv::Rect& roi)
{
    boxes.erase(std::remove_if(boxes.begin(), boxes.end(),
                               [&](const bbox_t& b) {
                                   const long long cx = b.x + b.w / 2, cy = b.y + b.h / 2;
                                   return cx < roi.x || cy < roi.y || cx >= static_cast<long long>(roi.x) + roi.width ||
                                          cy >= static_cast<long long>(roi.y) + roi.height;
                               }),
                boxes.end());
}

void track(std::vector<bbox_t>& boxes, std::vector<unsigned>& next_ids,
           std::deque<std::vector<bbox_t>>& history, int max_dist, int frame_buffer)
{
    auto centre = [](const bbox_t& b) { return std::make_pair(b.x + b.w / 2.0, b.y + b.h / 2.0); };
    std::set<std::pair<unsigned, unsigned>> taken; // (class, track id) continued in this frame
    for (bbox_t& b : boxes) {
        if (b.obj_id >= next_ids.size())
            next_ids.resize(static_cast<size_t>(b.obj_id) + 1, 1u);
        const auto c = centre(b);
        const bbox_t* best = nullptr;
        double best_d = std::numeric_limits<double>::infinity();
        for (const std::vector<bbox_t>& frame : history) {
            for (const bbox_t& p : frame) {
                if (p.obj_id != b.obj_id || taken.count({p.obj_id, p.track_id}))
                    continue;
                const auto pc = centre(p);
                const double d = std::hypot(pc.first - c.first, pc.second - c.second);
                if (d <= max_dist && d < best_d) {
                    best = &p;
                    best_d = d;
                }
            }
            if (best)
                break;
        }
        if (best) {
            b.track_id = best->track_id;
            b.frames_counter = best->frames_counter + 1;
        } else {
            b.track_id = next_ids[b.obj_id]++;
            b.frames_counter = 1;
        }
        taken.insert({b.obj_id, b.track_id});
    }
    history.push_front(boxes);
    const size_t keep = static_cast<size_t>(std::max(frame_buffer, 1));
    while (history.size() > keep)
        history.pop_back();
}

std::vector<int> count_per_class(const std::vector<bbox_t>& boxes, size_t classes)
{
    std::vector<int> counts(classes, 0);
    for (const bbox_t& b : boxes)
        if (b.obj_id < classes)
            ++counts[b.obj_id];
    return counts;
}

std::string count_text(const std::vector<int>& counts, const std::vector<std::string>& names)
{
    std::string text;
    for (size_t c = 0; c < counts.size() && c < names.size(); ++c) {
        if (counts[c] <= 0)
            continue;
        if (!text.empty())
            text += ", ";
        text += names[c] + ": " + std::to_string(counts[c]);
    }
    return text;
}

} // namespace detection_steps
