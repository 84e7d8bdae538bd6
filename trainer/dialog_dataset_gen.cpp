#include "dialog_dataset_gen.h"
#include "ui_dialog_dataset_gen.h"

DialogDatasetGen::DialogDatasetGen(QWidget* parent) : QDialog(parent), ui(new Ui::DialogDatasetGen)
{
    ui->setupUi(this);
}

DialogDatasetGen::~DialogDatasetGen()
{
    delete ui;
}

int DialogDatasetGen::show_dataset_gen(cv::Mat image_, Frame frame_)
{
    image = image_;
    frame = frame_;
    return exec();
}

void DialogDatasetGen::update_display() {}

QJsonObject DialogDatasetGen::get_setting()
{
    return QJsonObject();
}

void DialogDatasetGen::restore_setting(QJsonObject) {}

cv::Mat DialogDatasetGen::get_noise(cv::Mat image_, double)
{
    return image_.clone();
}

cv::Mat DialogDatasetGen::get_contrast(cv::Mat image_, double)
{
    return image_.clone();
}

cv::Mat DialogDatasetGen::get_blur(cv::Mat image_, int)
{
    return image_.clone();
}

std::pair<cv::Mat, Frame> DialogDatasetGen::get_rotation(cv::Mat image_, Frame frame_, double)
{
    return {image_.clone(), frame_};
}

std::vector<std::pair<cv::Mat, Frame>> DialogDatasetGen::get_auto_gen(cv::Mat, Frame)
{
    return {};
}
