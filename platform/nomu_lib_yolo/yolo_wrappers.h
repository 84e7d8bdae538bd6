#pragma once
// The detector wrappers a configuration record holds: the GPU one for the
// "CUDA" back end, the CPU one for any other.

#include "detector.h"

namespace darknet {

class NomuYolo {
public:
    // Loads nothing and needs no GPU: the form used for unloaded placeholders.
    NomuYolo();
    Detector* detector = nullptr;

    // Frees *d and leaves it null; nothing happens for a null d or *d.
    void delete_detector(Detector** d);
};

} // namespace darknet

class NomuYoloCPU {
public:
    NomuYoloCPU();
    DetectorCPU* detector = nullptr;

    void delete_detector(DetectorCPU** d);
};
