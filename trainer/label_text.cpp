#include "label_text.h"

#include "box_geometry.h"

#include <opencv2/imgproc.hpp>

#include <vector>

namespace {

const int kFont = cv::FONT_HERSHEY_COMPLEX_SMALL;

bool border_clear(const cv::Mat& m)
{
    return cv::countNonZero(m.row(0)) == 0 && cv::countNonZero(m.row(m.rows - 1)) == 0 &&
           cv::countNonZero(m.col(0)) == 0 && cv::countNonZero(m.col(m.cols - 1)) == 0;
}

} // namespace

const LabelText::Sprite& LabelText::sprite(const std::string& text)
{
    auto it = sprites_.find(text);
    if (it != sprites_.end())
        return it->second;
    Sprite s;
    int baseline = 0;
    const cv::Size size = cv::getTextSize(text, kFont, scale_, thickness_, &baseline);
    // Glyphs reach past the measured box (ascenders, descenders, the stroke's
    // half-width): a wide margin, checked below.
    const long long pad = 2LL * thickness_ + static_cast<long long>(scale_ * 16) + 4;
    const long long w = size.width + 2 * pad;
    const long long h = size.height + baseline + 2 * pad;
    s.reach = w + h;
    if (w > 0 && h > 0 && w * h <= 64LL * 1024 * 1024) {
        s.mask = cv::Mat::zeros(static_cast<int>(h), static_cast<int>(w), CV_8UC1);
        s.anchor = cv::Point(static_cast<int>(pad), static_cast<int>(pad) + size.height);
        cv::putText(s.mask, text, s.anchor, kFont, scale_, cv::Scalar(255), thickness_, cv::LINE_8, false);
        s.valid = border_clear(s.mask);
        if (s.valid) {
            // Keep only the pixels the text sets: a stamp touches no more.
            std::vector<cv::Point> on;
            cv::findNonZero(s.mask, on);
            if (on.empty()) {
                s.mask.release();
                s.anchor = cv::Point(0, 0);
            } else {
                const cv::Rect box = cv::boundingRect(on);
                s.mask = s.mask(box).clone();
                s.anchor -= box.tl();
            }
        }
    }
    return sprites_.emplace(text, std::move(s)).first->second;
}

void LabelText::put(cv::Mat& image, const std::string& text, cv::Point2l at, const cv::Scalar& color)
{
    const Sprite& s = sprite(text);
    const Box64 around(at.x - s.reach, at.y - s.reach, 2 * s.reach + 1, 2 * s.reach + 1);
    if ((around & image_box(image.size())).empty())
        return;
    const cv::Point origin(clamp_to_int(at.x), clamp_to_int(at.y));
    if (s.valid && s.mask.empty())
        return; // the text sets no pixel (an empty label)
    if (s.valid) {
        const cv::Rect roi(origin.x - s.anchor.x, origin.y - s.anchor.y, s.mask.cols, s.mask.rows);
        if ((roi & cv::Rect(0, 0, image.cols, image.rows)) == roi) {
            image(roi).setTo(color, s.mask);
            return;
        }
    }
    cv::putText(image, text, origin, kFont, scale_, color, thickness_, cv::LINE_8, false);
}
