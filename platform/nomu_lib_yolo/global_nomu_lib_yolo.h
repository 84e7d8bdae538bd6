#pragma once
// The library's single global object: the GPU probe.

class GlobalNomuLibYolo {
public:
    // Valid from program start (constant-initialised), so callers may
    // dereference it without a test, even from static initialisers.
    static GlobalNomuLibYolo* GlobalNomuLibYoloObject;

    // True when the GPU back end is usable: OpenCV's DNN module offers a CUDA
    // target and a CUDA device is present. Worked out on the first call and
    // cached, so every call gives the same answer; no side effect.
    // The environment variable NOMU_LIB_YOLO_GPU, read once, forces the
    // answer: "1" true, "0" false; unset (or any other value) runs the probe.
    bool is_gpu_ok();
};
