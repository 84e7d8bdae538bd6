#pragma once
// The detectors that the wrappers own. A detector is created by the loading
// code of the configuration layer and freed through the wrapper's
// delete_detector; this header holds only what creating and freeing need.

#include <memory>

class Detector {
public:
    Detector();
    ~Detector();
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    // Live detectors of both kinds, for leak checks in tests.
    static int live_count();
};

class DetectorCPU {
public:
    DetectorCPU();
    ~DetectorCPU();
    DetectorCPU(const DetectorCPU&) = delete;
    DetectorCPU& operator=(const DetectorCPU&) = delete;

    static int live_count();
};
