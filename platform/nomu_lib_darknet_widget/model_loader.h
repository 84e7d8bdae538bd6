#pragma once
// Loading an exported model folder into a detector, with every check that
// keeps a wrong model from being served: the description must decipher and
// make sense, obj.names must name every class, the weights must have exactly
// the size the description implies, and the network must run once.

#include "detector.h"

#include <QString>

#include <memory>
#include <string>
#include <vector>

struct LoadedModel {
    // Exactly one of the two is set: the GPU detector for backend "CUDA", the
    // CPU detector for any other.
    std::unique_ptr<Detector> gpu;
    std::unique_ptr<DetectorCPU> cpu;
    std::vector<std::string> class_names; // one per class of the network
    int classes = 0;
};

// Loads the folder `dir` for `backend` ("CUDA": the GPU detector; "Vulkan":
// the CPU detector on OpenCV's Vulkan backend where offered; anything else:
// the CPU detector). False with the reason in *error on any failure; never
// throws.
bool load_model(const QString& dir, const QString& backend, LoadedModel* out, QString* error);
