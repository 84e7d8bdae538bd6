#include "global_nomu_lib_yolo.h"

#include <QByteArray>
#include <QtGlobal>

#include <opencv2/core.hpp>
#include <opencv2/core/cuda.hpp>
#include <opencv2/dnn.hpp>

#include <algorithm>
#include <exception>

namespace {

GlobalNomuLibYolo g_global_object;

bool probe_cuda()
{
    try {
        if (cv::cuda::getCudaEnabledDeviceCount() <= 0)
            return false;
        const std::vector<cv::dnn::Target> targets =
            cv::dnn::getAvailableTargets(cv::dnn::DNN_BACKEND_CUDA);
        return std::find(targets.begin(), targets.end(), cv::dnn::DNN_TARGET_CUDA) != targets.end();
    } catch (const std::exception&) {
        return false;
    }
}

bool decide_gpu()
{
    const QByteArray forced = qgetenv("NOMU_LIB_YOLO_GPU");
    if (forced == "1")
        return true;
    if (forced == "0")
        return false;
    return probe_cuda();
}

} // namespace

GlobalNomuLibYolo* GlobalNomuLibYolo::GlobalNomuLibYoloObject = &g_global_object;

bool GlobalNomuLibYolo::is_gpu_ok()
{
    // A function-local static is initialised once, thread-safely.
    static const bool answer = decide_gpu();
    return answer;
}
