// The project: the image folder, moving between its images, the view, and the
// ground-truth file commands.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

void DialogVarnex::loadPrjoject(QString path)
{
    ui->label_img_name->setText("");
    ui->label_prj_path->setText(path);
    prj_path = path;
}

cv::Mat DialogVarnex::getFrame(int index, bool store)
{
    Q_UNUSED(index);
    Q_UNUSED(store);
    return cv::Mat();
}

void DialogVarnex::show_cur_img(cv::Mat image)
{
    Q_UNUSED(image);
}

void DialogVarnex::on_pushButton_loadImages_clicked() {}
void DialogVarnex::on_horizontalSlider_frame_valueChanged(int value)
{
    Q_UNUSED(value);
}
void DialogVarnex::on_pushButton_prev_clicked() {}
void DialogVarnex::on_pushButton_next_clicked() {}
void DialogVarnex::on_pushButton_saveGT_clicked() {}
void DialogVarnex::on_pushButton_LoadGT_clicked() {}

void DialogVarnex::on_pushButton_close_clicked()
{
    hide();
}
