// The crop export of every labelled object, run from the Labeling tab.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "dialog_export_crop.h"

// Runs the crop dialog over the open project; after a run that went through
// every image it says so and opens the export folder.
void DialogVarnex::on_pushButton_export_crop_clicked()
{
    if (image_files.isEmpty())
        return;
    dlg_export_crop->image_files = &image_files;
    dlg_export_crop->success = false;
    dlg_export_crop->labeling = &labeling;
    dlg_export_crop->exec();
    dlg_export_crop->report_export_result(this);
}
