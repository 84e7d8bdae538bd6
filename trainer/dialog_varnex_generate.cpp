// Generation of the darknet training folder "data" from the open project, and
// the augmentation settings whose samples it adds.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "dataset_generator.h"
#include "training_folder.h"

// Generates the training folder, when one was chosen. Not built yet:
// generates nothing.
void DialogVarnex::on_pushButton_GenerateTrainingFiles_clicked() {}

// Rebuilds "data" in `trainDir`. Not built yet: writes nothing.
void DialogVarnex::generate_trainingFile(QString trainDir)
{
    Q_UNUSED(trainDir);
}

// Removes a folder with its content, never through a symbolic link.
bool DialogVarnex::removeDir(const QString& dir)
{
    return remove_dir_tree(dir);
}

// Opens the augmentation settings with a preview on a copy of the current
// image and its objects.
void DialogVarnex::on_pushButton_gen_setting_clicked()
{
    if (labeling.frames.isEmpty() || cur_image.empty())
        return;
    if (cur_index < 0 || cur_index >= static_cast<int>(labeling.frame_names.size()))
        return;
    const cv::Mat image = cur_image.clone();
    const Frame frame = labeling.frames[labeling.frame_names[static_cast<size_t>(cur_index)]];
    dataset_generator->show_dataset_gen(image, frame);
}
