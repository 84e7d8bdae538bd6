#pragma once
// Scores what the detection server found on held-out images against their
// ground truth: each detection is mapped from the server's scaled image back
// to the image file, matched to an object of the same class at IoU 0.5 or
// more, and the matches are counted into recall and precision.

#include <QByteArray>
#include <QString>

#include <opencv2/core.hpp>

#include <vector>

struct ScoredDetection {
    QString name;       // class name
    cv::Rect2d box;     // in pixels of the image file
    double confidence = 0;
};

// The detections of one "test_end" result line, mapped back to an image of
// `original` size: the server scales the image so that its longer side is 608
// pixels and reports box centres and sizes in the scaled image ("im_w" by
// "im_h"), so each axis is scaled back by original / scaled. Empty with
// *error set when the line is no "test_end" result or its size is unusable.
std::vector<ScoredDetection> detections_from_result_line(const QByteArray& line, cv::Size original,
                                                         QString* error);

struct TruthBox {
    QString name;
    cv::Rect2d box;
};

// The number of ground-truth objects found: detections are taken by falling
// confidence, and each one takes the unmatched object of its class that it
// overlaps most, when that overlap is at least `minIou` (intersection over
// union). A second detection of the same object counts as a false one.
int count_matches(const std::vector<TruthBox>& truth, std::vector<ScoredDetection> found, double minIou);

struct ScoreTotals {
    int objects = 0;
    int detections = 0;
    int matched = 0;
    int images = 0;
};

// matched / objects; 0 without objects.
double recall_of(const ScoreTotals& t);
// matched / detections; 0 without detections.
double precision_of(const ScoreTotals& t);

// "recall 0.94 precision 1.00 (17 of 18 objects at IoU 0.5, 17 detections, 6 images)"
QString summary_line(const ScoreTotals& t, double minIou);
