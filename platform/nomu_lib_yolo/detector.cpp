#include "detector.h"

#include <atomic>

namespace {
std::atomic<int> g_live_gpu{0};
std::atomic<int> g_live_cpu{0};
} // namespace

Detector::Detector() { ++g_live_gpu; }
Detector::~Detector() { --g_live_gpu; }
int Detector::live_count() { return g_live_gpu.load(); }

DetectorCPU::DetectorCPU() { ++g_live_cpu; }
DetectorCPU::~DetectorCPU() { --g_live_cpu; }
int DetectorCPU::live_count() { return g_live_cpu.load(); }
