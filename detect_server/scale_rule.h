#pragma once
// The size a test image is scaled to before detection.

#include <opencv2/core.hpp>

// s = 608.0 / the longer side, in double; each side times s, truncated toward
// zero. The longer side becomes 608, or 607 for sizes such as 263 or 526,
// whose product falls just below 608. Smaller images are enlarged. A side
// can come out 0 (a 1000 x 1 image); the caller must refuse such a size.
// (0, 0) for an empty size.
cv::Size scaled_to_608(int cols, int rows);
