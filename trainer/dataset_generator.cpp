#include "dataset_generator.h"

#include "dialog_dataset_gen.h"

DatasetGenerator::DatasetGenerator(QWidget* parent_) : dialog(new DialogDatasetGen(parent_)), parent(parent_) {}

void DatasetGenerator::show_dataset_gen(cv::Mat image, Frame frame)
{
    dialog->show_dataset_gen(image, frame);
}
