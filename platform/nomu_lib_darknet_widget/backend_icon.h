#pragma once
// The icon that stands for a configuration's backend: in the configuration
// list and in the settings dialog's top bar.

#include <QString>

// ":/nomu_quandel_sarvik/model/cnn_detect.png" for "CUDA",
// "..._vulkan.png" for "Vulkan", "..._cpu.png" for any other text (the
// comparison is case-sensitive).
QString backend_icon_path(const QString& backend);

// The icon of a host label while no configuration is shown.
extern const char* const kEmptyHostIcon;
