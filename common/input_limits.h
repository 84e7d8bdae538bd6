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

// The network's working memory: all that loading it and its first forward
// pass hold at their peak, counted from the description as OpenCV 4.6
// allocates it (darknet_cfg.cpp says how): the weights three times, the
// input and every layer's output as 32-bit floats, and the largest buffers
// one layer takes while it runs (a convolution's row buffer on every thread).
// The trainer's largest template, V4 at 608 pixels, counts 1417 MiB and takes
// 980 MiB; an input of 30000 x 30000 would count terabytes.
constexpr long long kWorkingMemoryBytes = 4LL << 30;
// The network's work in one forward pass: the convolutions' multiply-adds,
// and the values the convolutions gather into their row buffers and the
// pools read through their windows. The largest templates need 7.0e10
// multiply-adds (V3 at 608 pixels) and 4.3e8 reads (V7 at 640); V4 at 608
// loads with its first forward pass in some 4 s on 4 threads here. At the
// limits a forward pass takes some 14 s on one thread here (0.04 ns a
// multiply-add, 0.5 ns a gathered value, measured), a few on all of them;
// the unbounded 4096-wide window took 49 s on a 16 x 16 input.
constexpr long long kNetworkMultiplyAdds = 300000000000LL;
constexpr long long kNetworkWindowReads = 4000000000LL;
// And the comparisons of boxes that suppress overlapping detections: inside
// a [region] layer (and a [yolo] layer given an nms_threshold) OpenCV
// compares, class by class, every box with those kept before it, in every
// forward pass; the detector does the same for the boxes of all heads
// together. NomuedDet-416 has 32448 boxes (5.3e8 comparisons), V7 at 640
// pixels 25200 (3.2e8); at the limit some 7 s on one thread (3.6 ns a
// comparison, measured), where a [region] over 128 x 128 cells took 16 s and
// one over 256 x 256 more than 5 minutes.
constexpr long long kNetworkBoxComparisons = 2000000000LL;

// The description's layers. OpenCV computes every side, padding sum and
// window in 32-bit ints (pooling sides in float) and a side that overflows or
// vanishes there ends the program; within these bounds none can.
// The largest side, width or height, of the input and of every layer's
// output (a float holds every such side exactly):
constexpr int kLayerSide = 65536;
// The largest window ("size") and "stride" of a convolution or a max pool;
// darknet networks use 1 to 7 and strides of 1 or 2.
constexpr int kLayerWindow = 4096;
// The largest row buffer a convolution takes on each thread that runs it: 32
// output positions times its window area times a block of up to 16 input
// channels (more for windows under 50), as 32-bit floats. The templates take
// at most 72 KiB (a 3 x 3 window on 64 channels); 1 MiB admits any window up
// to 22 x 22 on 16 channels or more and 52 x 52 on 3, and a 4096-wide window
// on the 3 input channels would take 6 GiB on each thread.
constexpr long long kLayerRowBufferBytes = 1LL << 20;

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
