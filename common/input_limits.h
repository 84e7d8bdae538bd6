#pragma once
// Every limit on what the two programs and the training executables read, in
// one place, in the order and under the names of the README's "Input limits"
// table. Each is far above anything a real project or model holds; they are
// there so that a planted or damaged input fails the way its operation
// reports failures instead of taking the machine's memory or time.
// Plain figures (no Qt), so that every layer can include this header.

namespace input_limits {

// "/tmp/sarvik_test.cmd": the most of the command file that is read; a larger
// file is not run.
constexpr long long kCommandFileBytes = 64LL << 10;

// The model folder's "test.cfg", and the sections its description may hold
// (many times the largest published darknet networks; a network of this many
// sections still loads in under a second).
constexpr long long kModelDescriptionBytes = 16LL << 20;
constexpr int kModelDescriptionSections = 4096;

// The model folder's "obj.names", and the names (lines) it may hold.
constexpr long long kModelNamesBytes = 16LL << 20;
constexpr int kModelClassNames = 100000;

// The model folder's "train.weights", and so the largest count of weights a
// description may need (the largest published darknet weights are a few
// hundred MB).
constexpr long long kModelWeightsBytes = 1LL << 30;

// The network's working memory: the input and every layer's output as 32-bit
// floats, with the sizes darknet gives them (OpenCV reuses some of it, so it
// takes less). The trainer's largest template, V4 at 608 pixels, counts about
// 660 MiB; an input of 30000 x 30000 would count terabytes.
constexpr long long kWorkingMemoryBytes = 4LL << 30;

// The description's layers. OpenCV computes every side, padding sum and
// window in 32-bit ints (pooling sides in float) and a side that overflows or
// vanishes there ends the program; within these bounds none can.
// The largest side, width or height, of the input and of every layer's
// output (a float holds every such side exactly):
constexpr int kLayerSide = 65536;
// The largest window ("size") and "stride" of a convolution or a max pool;
// darknet networks use 1 to 7 and strides of 1 or 2.
constexpr int kLayerWindow = 4096;

// Images: the server's "test", the trainer's project images, crop export.
// 268,435,456 pixels (16384 x 16384), above the largest camera sensors, read
// from the header before decoding; and the largest image file read.
constexpr long long kImagePixels = 1LL << 28;
constexpr long long kImageFileBytes = 1LL << 30;

// "/tmp/varnex.json", the trainer's state file.
constexpr long long kStateFileBytes = 1LL << 20;

// A ground truth (".gt").
constexpr long long kGroundTruthBytes = 1LL << 30;

// The training folder's "train.cfg", "version" and "classes.data", and the
// embedded templates, as the trainer reads them.
constexpr long long kTrainingFolderTextBytes = 16LL << 20;

// The training executables' inputs: the network description and "obj.data",
// the training list, and one label text.
constexpr long long kTrainingDescriptionBytes = 16LL << 20;
constexpr long long kTrainingDataFileBytes = 16LL << 20;
constexpr long long kTrainingListBytes = 256LL << 20;
constexpr long long kLabelTextBytes = 16LL << 20;

} // namespace input_limits
