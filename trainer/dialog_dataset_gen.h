#pragma once
// The augmentation dialog: its widgets hold the augmentation settings, it
// previews them on the current image and generates the augmented samples.
// (Placeholder until the augmentation work lands: no settings, no samples.)

#include "labeling.h"

#include <QDialog>
#include <QJsonObject>

#include <opencv2/core.hpp>

#include <utility>
#include <vector>

namespace Ui {
class DialogDatasetGen;
}

class DialogDatasetGen : public QDialog {
    Q_OBJECT

public:
    explicit DialogDatasetGen(QWidget* parent = nullptr);
    ~DialogDatasetGen() override;

    int show_dataset_gen(cv::Mat image, Frame frame);
    void update_display();

    QJsonObject get_setting();
    void restore_setting(QJsonObject setting);

    cv::Mat get_noise(cv::Mat image, double sigma);
    cv::Mat get_contrast(cv::Mat image, double alpha);
    cv::Mat get_blur(cv::Mat image, int n);
    std::pair<cv::Mat, Frame> get_rotation(cv::Mat image, Frame frame, double degrees);
    std::vector<std::pair<cv::Mat, Frame>> get_auto_gen(cv::Mat image, Frame frame);

    cv::Mat image;
    Frame frame;
    Ui::DialogDatasetGen* ui;
};
