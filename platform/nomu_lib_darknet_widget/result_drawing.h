#pragma once
// Drawing a detection result onto the image it was found in.

#include "bbox.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

struct DrawOptions {
    bool result_drawing = true;  // boxes, and labels when text_drawing
    bool text_drawing = true;
    bool show_confidence = true; // " 87%" after the name
    bool show_track_id = false;  // " #3" after that
    bool draw_roi = true;
    int rect_thickness = 2;
    int font_thickness = 1;
    int txt_offset = 5; // label baseline this many pixels above the box (below when negative)
    double font_scale = 0.8;
};

// Colour of class i (BGR, 0 to 255): a 6-stop palette, magenta, red, yellow,
// green, cyan, blue, sampled at ((i * 123457) mod 999) / 999 * 5 by linear
// blending; the trainer colours its classes by the same rule.
cv::Scalar class_color(unsigned i);

// The label of a box: its class name, then " NN%" (confidence rounded to a
// whole percent) and " #id" as the options ask.
std::string box_label(const bbox_t& box, const std::vector<std::string>& names, const DrawOptions& options);

// Draws, as the options ask, the ROI rectangle (white, thickness
// rect_thickness) and then every box in its class colour with its label. A
// label that would leave the top of the image is moved down into it.
// Thicknesses above 1000 and font scales above 100 draw as 1000 and 100:
// beyond that the marks would cover the whole image anyway.
void draw_result(cv::Mat& image, const std::vector<bbox_t>& boxes, const std::vector<std::string>& names,
                 const cv::Rect& roi, const DrawOptions& options);
