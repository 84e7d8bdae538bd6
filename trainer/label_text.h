#pragma once
// Label text of the annotated view, drawn the way cv::putText draws it with
// FONT_HERSHEY_COMPLEX_SMALL, LINE_8 and a bottom-left origin, but rendered
// once per distinct text and stamped: most images repeat a handful of class
// names many times, and rendering thick Hershey strokes is the costly part of
// a redraw. The pixels are those putText sets: its glyph points are whole-pixel
// translations of the origin, so a stamp that lies wholly inside the image
// matches exactly; a stamp that would be clipped by the image border is drawn
// by putText itself.
//
// One instance serves one redraw (one scale and thickness); nothing is kept
// between redraws.

#include <opencv2/core.hpp>

#include <map>
#include <string>

class LabelText {
public:
    LabelText(double scale, int thickness) : scale_(scale), thickness_(thickness) {}

    // The origin may lie anywhere: a text that cannot reach the image is not
    // drawn.
    void put(cv::Mat& image, const std::string& text, cv::Point2l origin, const cv::Scalar& color);

private:
    struct Sprite {
        cv::Mat mask;     // 255 where the text sets a pixel
        cv::Point anchor; // the text's origin inside the mask
        bool valid = false;
        long long reach = 0; // no pixel of the text lies farther from its origin
    };
    const Sprite& sprite(const std::string& text);

    double scale_;
    int thickness_;
    std::map<std::string, Sprite> sprites_;
};
