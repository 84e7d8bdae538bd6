#include "yolo_wrappers.h"

namespace darknet {

NomuYolo::NomuYolo() = default;

void NomuYolo::delete_detector(Detector** d)
{
    if (!d || !*d)
        return;
    delete *d;
    *d = nullptr;
}

} // namespace darknet

NomuYoloCPU::NomuYoloCPU() = default;

void NomuYoloCPU::delete_detector(DetectorCPU** d)
{
    if (!d || !*d)
        return;
    delete *d;
    *d = nullptr;
}
