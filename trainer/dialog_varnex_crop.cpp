// The crop export of every labelled object, run from the Labeling tab.

#include "dialog_varnex.h"
#include "ui_dialog_varnex.h"

#include "dialog_export_crop.h"

// Runs the crop export over the open project. Not built yet: does nothing.
void DialogVarnex::on_pushButton_export_crop_clicked() {}
