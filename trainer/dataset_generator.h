#pragma once
// The plain holder through which the main dialog reaches the augmentation
// dialog (also in a run without a window).

#include "labeling.h"

#include <opencv2/core.hpp>

class DialogDatasetGen;
class QWidget;

class DatasetGenerator {
public:
    explicit DatasetGenerator(QWidget* parent);

    // Runs the augmentation dialog modally on copies of the image and frame.
    void show_dataset_gen(cv::Mat image, Frame frame);

    DialogDatasetGen* dialog;
    QWidget* parent;
};
