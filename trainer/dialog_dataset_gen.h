#pragma once
// The augmentation dialog ("Auto Gen"): its widgets hold the augmentation
// settings, it previews them on the image it was opened with, and it hands
// out the augmented samples of an image.
//
// The settings live only in the widgets. Every operation reads them at the
// moment it runs, so the dialog works the same without ever being shown (a
// "gen" run): its widgets then hold the form defaults or the values restored
// from the state file under "auto_gen".

#include "augmentation.h"
#include "labeling.h"

#include <QDialog>
#include <QJsonObject>

#include <opencv2/core.hpp>

#include <utility>
#include <vector>

class QResizeEvent;
class QShowEvent;

namespace Ui {
class DialogDatasetGen;
}

class DialogDatasetGen : public QDialog {
    Q_OBJECT

public:
    explicit DialogDatasetGen(QWidget* parent = nullptr);
    ~DialogDatasetGen() override;

    // Keeps the image (sharing its pixels) and a copy of the frame for the
    // preview and runs the dialog modally; returns exec()'s result.
    int show_dataset_gen(cv::Mat image, Frame frame);

    // Draws the preview of `image` and `frame` into label_img; nothing
    // without an image.
    void update_display();

    // The preview as update_display shows it, before the conversion for
    // display: the checked groups applied at their sliders' values in the
    // order rotation, noise, contrast, blur, with the boxes, centres and
    // polygon points drawn. Empty without an image.
    cv::Mat render_preview();

    // The settings object stored under "auto_gen": "thickness", "fixed_size",
    // "grb_rotation", "rot_min", "rot_max", "rot_step", "grb_contrast",
    // "contrast_min", "contrast_max", "contrast_step", "grb_noise",
    // "noise_max", "noise_step", "grb_blur", "blur_max", "blur_step".
    QJsonObject get_setting();
    // Applies such an object to the widgets, key by key in that order. A
    // missing key reads as 0 or false; the widgets clamp each value into
    // their range and round it to their decimals.
    void restore_setting(QJsonObject setting);

    // The generator's settings as the widgets hold them right now.
    AugmentSettings current_settings() const;

    // The four image operations (see augmentation.h); get_rotation applies
    // "Fixed size" as the box is checked at the call.
    cv::Mat get_noise(cv::Mat image, double sigma);
    cv::Mat get_contrast(cv::Mat image, double alpha);
    cv::Mat get_blur(cv::Mat image, int n);
    std::pair<cv::Mat, Frame> get_rotation(cv::Mat image, Frame frame, double degrees);

    // The streaming form of get_auto_gen, for callers that write each
    // sample as it comes (the training-folder generation):
    //   - reads the settings from the widgets once, when called; later
    //     changes of the widgets (for instance from events the consumer lets
    //     run) do not affect this call;
    //   - hands every augmented sample of `image` and `frame` to `consumer`,
    //     one at a time, in get_auto_gen's order, with the same random draws,
    //     so the same seeds give the same samples as get_auto_gen;
    //   - the consumer owns each sample it receives and returns true to go
    //     on or false to stop; only the current sample is alive, so memory
    //     stays at a few images whatever the settings;
    //   - an empty or unreadable (not 8-bit three-channel) image yields no
    //     sample; a failing image operation ends the stream with a line on
    //     stderr and its text in *error (emptied otherwise); exceptions of
    //     the consumer are passed on;
    //   - returns the number of samples handed over.
    // Example, writing each sample as it comes:
    //   dialog->for_each_auto_gen(image, frame, [&](AugmentedSample s) {
    //       write_pair(s.first, s.second);
    //       return !stop_requested();
    //   });
    int for_each_auto_gen(cv::Mat image, Frame frame, const AugmentedSampleConsumer& consumer,
                          QString* error = nullptr);

    // Every augmented sample of one image, collected: the samples of
    // for_each_auto_gen, in its order. Loop order noise, blur, angle,
    // contrast; inclusive bounds; the identity combination skipped.
    std::vector<std::pair<cv::Mat, Frame>> get_auto_gen(cv::Mat image, Frame frame);

    cv::Mat image; // the image last handed to show_dataset_gen
    Frame frame;   // its objects
    Ui::DialogDatasetGen* ui;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private slots:
    void on_horizontalSlider_rotation_valueChanged(int value);
    void on_doubleSpinBox_rotation_min_valueChanged(double value);
    void on_doubleSpinBox_rotation_max_valueChanged(double value);
    void on_doubleSpinBox_rotation_step_valueChanged(double value);
    void on_doubleSpinBox_noise_step_valueChanged(double value);
    void on_doubleSpinBox_noise_max_valueChanged(double value);
    void on_horizontalSlider_noise_valueChanged(int value);
    void on_groupBox_rotation_clicked(bool checked);
    void on_groupBox_noise_clicked(bool checked);
    void on_doubleSpinBox_contrast_min_valueChanged(double value);
    void on_doubleSpinBox_contrast_max_valueChanged(double value);
    void on_doubleSpinBox_contrast_step_valueChanged(double value);
    void on_horizontalSlider_contrast_valueChanged(int value);
    void on_doubleSpinBox_blur_step_min_valueChanged(double value);
    void on_doubleSpinBox_blur_max_valueChanged(double value);
    void on_horizontalSlider_blur_valueChanged(int value);
    void on_spinBox_thickness_valueChanged(int value);
};
