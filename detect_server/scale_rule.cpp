#include "scale_rule.h"

#include <algorithm>

cv::Size scaled_to_608(int cols, int rows)
{
    if (cols <= 0 || rows <= 0)
        return cv::Size(0, 0);
    const double s = 608.0 / std::max(cols, rows);
    return cv::Size(static_cast<int>(cols * s), static_cast<int>(rows * s));
}
