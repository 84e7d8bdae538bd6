#pragma once
// Reading a darknet network description before it is handed to OpenCV: the
// figures the loader checks (input size, class count, the number of floats the
// weights file must hold) and the patch that makes OpenCV honour low
// thresholds. Plain text in, plain figures out; no Qt, no OpenCV.
//
// Lines are read as darknet and OpenCV read them: blanks anywhere in a line
// are ignored, a line starting with "#" or ";" is a comment, "[name]" starts a
// section, "key=value" sets a key of the current section (the last value of a
// key wins).

#include <string>
#include <vector>

namespace darknet_cfg {

// One convolution's share of the weights file.
struct ConvLayer {
    int line = 0; // line of its section header, from 1
    int filters = 0;
    int in_channels = 0;
    int groups = 1;
    int size = 1;
    bool batch_normalize = false;
    // biases, then scale, mean and variance with batch normalisation, then
    // the kernels; -1 when the count does not fit in 64 bits
    long long floats() const;
};

struct NetInfo {
    int width = 0;
    int height = 0;
    int channels = 0;
    int classes = -1;             // of the [yolo]/[region] sections, which must agree
    int detection_sections = 0;
    std::vector<ConvLayer> convs; // in file order
    long long weight_floats = 0;  // sum over convs
    long long working_floats = 0; // the input and every layer's output, as darknet sizes them
    // What OpenCV computes and allocates:
    long long multiply_adds = 0;    // of the convolutions
    long long window_reads = 0;     // values the convolutions gather and the pools read
    long long box_comparisons = 0;  // of the suppression of overlapping boxes, OpenCV's and the detector's
    long long row_buffer_bytes = 0; // the largest convolution row buffer of one thread
    long long memory_bytes = 0;     // the whole count held against the working memory budget
};

// Walks the description layer by layer, following each output's width,
// height and channels through convolutions, routes (with groups), shortcuts,
// pools, upsampling and reorg, and checks
// that the layer before every [yolo]/[region] section gives exactly the
// filters its classes and anchors need. Sides are followed as OpenCV's
// importer builds the layers (its defaults; stride_x, stride_y and dilation,
// which it ignores, must not ask for anything else). Every count is made in
// 64 bits and checked. False with a reason on anything it cannot vouch for:
// more than kModelDescriptionSections sections, a missing [net] size, a section it does
// not know, a route to a layer that does not exist, a classes/filters
// mismatch, a [yolo] mask naming an anchor it does not have, no detection
// section, a count that overflows, a side beyond kLayerSide, a window or stride
// beyond kLayerWindow, a padding beyond its window, a window beyond its padded
// input, a reorg stride that does not divide its input, a convolution whose
// row buffer exceeds kLayerRowBufferBytes, weights beyond kModelWeightsBytes,
// a working memory beyond kWorkingMemoryBytes, or more work than
// kNetworkMultiplyAdds, kNetworkWindowReads or kNetworkBoxComparisons (the
// limits of input_limits.h). The memory and the work are counted as OpenCV
// 4.6 allocates and computes them on the CPU (darknet_cfg.cpp says how; the
// description fuzz measures them against OpenCV).
//
// What running the network on OpenCV would cost only matters where OpenCV
// runs it. The training executables hand the description to darknet and
// need its weight count: Bounds::Weights counts every figure but leaves out
// the limits of that cost (the row buffer, the working memory beyond the
// layers' outputs, the multiply-adds, window reads and box comparisons); the
// layers' outputs within kWorkingMemoryBytes still bound the walk, which
// keeps every product in 64 bits.
enum class Bounds { Detection, Weights };
bool analyse(const std::string& text, NetInfo* info, std::string* error, Bounds bounds = Bounds::Detection);

// The description as it is given to OpenCV: every [yolo] and [region] section
// gets "thresh=0" in place of any thresh line of its own (OpenCV otherwise
// zeroes every score under 0.2, so lower thresholds would silently act as
// 0.2; the detector applies the user's threshold itself), and
// "activation=silu" becomes the same function under OpenCV's name, "swish".
// Every other line is kept as it stands.
std::string prepare_for_opencv(const std::string& text);

// The header of a weights file as OpenCV reads it: major, minor and revision
// (32-bit each), then "seen", 64-bit when major * 10 + minor >= 2, else 32-bit.
// Returns 20 or 16, or -1 when the file is shorter than 12 bytes.
int weights_header_bytes(const std::string& weights);

// True when a weights file of `file_bytes` bytes can hold the floats the
// description needs after a header of either size; otherwise false with a
// reason naming both sizes. Lets a file of the wrong size be refused before
// it is read.
bool check_weights_file_size(const NetInfo& info, long long file_bytes, std::string* error);

// True when the weights hold exactly the header and the floats the
// description needs (OpenCV would read a short or long file without a word
// and detect garbage); otherwise false with a reason naming both sizes.
bool check_weights_size(const NetInfo& info, const std::string& weights, std::string* error);

} // namespace darknet_cfg
