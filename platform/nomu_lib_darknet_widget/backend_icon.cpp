#include "backend_icon.h"

const char* const kEmptyHostIcon = ":/nomu_quandel_sarvik/model/cnn_detect.png";

QString backend_icon_path(const QString& backend)
{
    if (backend == QLatin1String("CUDA"))
        return QStringLiteral(":/nomu_quandel_sarvik/model/cnn_detect.png");
    if (backend == QLatin1String("Vulkan"))
        return QStringLiteral(":/nomu_quandel_sarvik/model/cnn_detect_vulkan.png");
    return QStringLiteral(":/nomu_quandel_sarvik/model/cnn_detect_cpu.png");
}
