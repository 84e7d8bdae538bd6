#include "darknet_cfg.h"
#include "input_limits.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>
#include <thread>

namespace darknet_cfg {

namespace {

struct Section {
    std::string type;
    int line = 0;
    std::map<std::string, std::string> keys;
};

std::string without_blanks(std::string line)
{
    line.erase(std::remove_if(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c); }),
               line.end());
    return line;
}

// The section type of a header line "[name]" (blanks already removed), or ""
// when the line is not a header.
std::string header_type(const std::string& compact)
{
    if (compact.empty() || compact[0] != '[')
        return std::string();
    const size_t close = compact.find(']');
    return compact.substr(1, close == std::string::npos ? std::string::npos : close - 1);
}

// The sections of `text`; false when there are more than input_limits::kModelDescriptionSections.
bool parse(const std::string& text, std::vector<Section>* sections)
{
    std::istringstream in(text);
    std::string raw;
    int line_no = 0;
    while (std::getline(in, raw)) {
        ++line_no;
        const std::string line = without_blanks(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (sections->size() >= static_cast<size_t>(input_limits::kModelDescriptionSections))
                return false;
            Section s;
            s.type = header_type(line);
            s.line = line_no;
            sections->push_back(s);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || sections->empty())
            continue;
        sections->back().keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return true;
}

// Integer value of a key; `fallback` when absent. False when present but not a
// whole number.
bool int_key(const Section& s, const char* key, int fallback, int* out)
{
    auto it = s.keys.find(key);
    if (it == s.keys.end()) {
        *out = fallback;
        return true;
    }
    const std::string& v = it->second;
    if (v.empty())
        return false;
    size_t used = 0;
    try {
        const long value = std::stol(v, &used);
        if (used != v.size() || value < INT32_MIN || value > INT32_MAX)
            return false;
        *out = static_cast<int>(value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool int_list(const std::string& v, std::vector<int>* out)
{
    out->clear();
    std::string item;
    std::istringstream in(v);
    while (std::getline(in, item, ',')) {
        size_t used = 0;
        try {
            const long value = std::stol(item, &used);
            if (used != item.size() || value < INT32_MIN || value > INT32_MAX)
                return false;
            out->push_back(static_cast<int>(value));
        } catch (const std::exception&) {
            return false;
        }
    }
    return !out->empty();
}

std::string where(const Section& s)
{
    return "[" + s.type + "] at line " + std::to_string(s.line);
}

bool fail(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

// Checked 64-bit arithmetic: false when the result does not fit.
bool mul(long long a, long long b, long long* out) { return !__builtin_mul_overflow(a, b, out); }
bool add(long long a, long long b, long long* out) { return !__builtin_add_overflow(a, b, out); }

// Saturating forms for the work and memory counts, which are only compared
// with their limits: a count that does not fit is above any limit.
long long sat_mul(long long a, long long b)
{
    long long out = 0;
    return mul(a, b, &out) ? out : LLONG_MAX;
}
long long sat_add(long long a, long long b)
{
    long long out = 0;
    return add(a, b, &out) ? out : LLONG_MAX;
}

// Width, height and channels of a layer's output.
struct Shape {
    long long w = 0, h = 0, c = 0;
};

// The output side of a convolution or a max pool whose window fits in its
// padded input (in + padding >= size), as darknet and OpenCV compute it.
long long out_side(long long in, long long padding, long long size, long long stride)
{
    return (in + padding - size) / stride + 1;
}

// The count of numbers in a comma-separated list, or -1 when one is not a
// number.
long long number_count(const std::string& v)
{
    long long n = 0;
    std::string item;
    std::istringstream in(v);
    while (std::getline(in, item, ',')) {
        char* end = nullptr;
        std::strtod(item.c_str(), &end);
        if (item.empty() || end != item.c_str() + item.size())
            return -1;
        ++n;
    }
    return n;
}

// What OpenCV 4.6's CPU convolution (ParallelConv in its convolution layer)
// computes and allocates for one layer of batch 1. Each thread gathers the
// input into a row buffer ("im2row") of up to 32 output positions, each row
// the window area times a block of input channels rounded up to 8 floats; the
// block is 16 channels, doubled while twice that stays under 800 / window
// area and the group has more, and at most the group's channels. Beside it,
// one table of an int per window position and channel of the block. Every
// output value takes (group channels) x (window area) multiply-adds, and
// every output position gathers (channels) x (window area) values.
struct ConvCost {
    long long row_floats = 0;    // one thread's row buffer
    long long table_ints = 0;    // the offset table
    long long multiply_adds = 0; // saturated
    long long gathered = 0;      // saturated
};

ConvCost conv_cost(long long size, long long channels, long long groups, long long filters, long long out_plane)
{
    const long long area = size * size; // size <= kLayerWindow: no overflow
    const long long group_channels = channels / groups;
    const long long wanted = (800 + area - 1) / area;
    long long block = 16;
    while (block * 2 < wanted && block < group_channels)
        block *= 2;
    block = std::min(block, group_channels);
    ConvCost c;
    const long long row = (area * block + 7) / 8 * 8;
    c.row_floats = row * std::min<long long>(32, out_plane) + 8;
    c.table_ints = area * block;
    c.multiply_adds = sat_mul(sat_mul(sat_mul(out_plane, filters), group_channels), area);
    c.gathered = sat_mul(sat_mul(out_plane, channels), area);
    return c;
}

// OpenCV runs a layer on as many threads as the machine has processors,
// each with its own row buffer: counted for 256, or the machine's processors
// where it has more.
const long long kCountedThreads = std::max<long long>(256, std::thread::hardware_concurrency());

// What OpenCV keeps for the layers it makes of one section (names, shapes,
// parameters; measured at about 1.6 KiB with 4000 sections).
const long long kSectionBytes = 8LL << 10;

} // namespace

long long ConvLayer::floats() const
{
    const long long n = filters;
    long long kernels = 0, total = 0;
    if (groups <= 0 || !mul(n, in_channels / groups, &kernels) || !mul(kernels, size, &kernels) ||
        !mul(kernels, size, &kernels) || !add(n + (batch_normalize ? 3 * n : 0), kernels, &total))
        return -1;
    return total;
}

bool analyse(const std::string& text, NetInfo* info, std::string* error, Bounds bounds)
{
    *info = NetInfo();
    std::vector<Section> sections;
    if (!parse(text, &sections))
        return fail(error, "the description has more than " + std::to_string(input_limits::kModelDescriptionSections) + " sections");
    if (sections.empty() || (sections[0].type != "net" && sections[0].type != "network"))
        return fail(error, "the description does not start with a [net] section");
    const Section& net = sections[0];
    if (!int_key(net, "width", 0, &info->width) || !int_key(net, "height", 0, &info->height) ||
        !int_key(net, "channels", 3, &info->channels))
        return fail(error, "[net] holds a malformed width, height or channels");
    if (info->width <= 0 || info->height <= 0)
        return fail(error, "[net] needs a positive width and height");
    if (info->width > input_limits::kLayerSide || info->height > input_limits::kLayerSide)
        return fail(error, "[net] width and height may be at most " + std::to_string(input_limits::kLayerSide));
    if (info->channels != 3)
        return fail(error, "[net] channels must be 3 (colour images)");

    // The working memory is summed as it goes; a sum past the budget stops
    // the walk, so no product below can overflow.
    const long long budget = input_limits::kWorkingMemoryBytes / 4;
    auto over_budget = [&]() {
        return fail(error, "the network needs more than the working memory budget of " +
                               std::to_string(input_limits::kWorkingMemoryBytes >> 20) + " MiB (an input of " +
                               std::to_string(info->width) + " x " + std::to_string(info->height) + ")");
    };
    auto count = [&](const Shape& shape) {
        long long n = 0;
        return mul(shape.w, shape.h, &n) && mul(n, shape.c, &n) && add(info->working_floats, n, &info->working_floats) &&
               info->working_floats <= budget;
    };
    const Shape input{info->width, info->height, info->channels};
    if (!count(input))
        return over_budget();

    // Output of every layer so far; layer i is sections[i + 1].
    std::vector<Shape> outputs;
    // Beyond the outputs: the floats of the layers OpenCV adds (each detection
    // head again, reordered into a layer of its own; the parts of a route that
    // splits several layers; a softmax's sums), the vectors OpenCV keeps per
    // filter of a convolution (its bias and activation slopes in floats, its
    // weight multipliers in doubles, the batch normalisation's scale and
    // shift), and the largest buffers one layer allocates while it runs.
    long long extra_floats = 0, filter_bytes = 0, largest_layer_bytes = 0, head_boxes = 0;
    // Per layer: a max pool; its output taken by a later layer.
    std::vector<char> pooled, taken;
    for (size_t i = 1; i < sections.size(); ++i) {
        const Section& s = sections[i];
        const int index = static_cast<int>(i) - 1;
        const Shape in = outputs.empty() ? input : outputs.back();
        Shape out = in;
        long long layer_bytes = 0; // what the layer allocates while it runs, freed after
        std::string refusal;       // by OpenCV's cost, once the layer's shape is vouched for

        auto layer = [&](int ref, Shape* shape) {
            const int j = ref < 0 ? index + ref : ref;
            if (j < 0 || j >= index)
                return false;
            *shape = outputs[static_cast<size_t>(j)];
            taken[static_cast<size_t>(j)] = 1;
            return true;
        };
        // OpenCV reads "stride" alone: stride_x and stride_y may only repeat it.
        auto plain_strides = [&](int stride) {
            int sx = 0, sy = 0;
            return int_key(s, "stride_x", stride, &sx) && int_key(s, "stride_y", stride, &sy) && sx == stride &&
                   sy == stride;
        };
        // A window and stride within input_limits::kLayerWindow, a padding from 0 to the
        // window, the window within the input padded on `sides` sides.
        auto window_fits = [&](int size, int stride, int padding, int sides) {
            if (size > input_limits::kLayerWindow || stride > input_limits::kLayerWindow)
                return fail(error, where(s) + ": size=" + std::to_string(size) + " and stride=" +
                                       std::to_string(stride) + " may be at most " + std::to_string(input_limits::kLayerWindow));
            if (padding < 0 || padding > size)
                return fail(error, where(s) + ": padding=" + std::to_string(padding) +
                                       " is not between 0 and size=" + std::to_string(size));
            const long long padded = static_cast<long long>(sides) * padding;
            if (in.w + padded < size || in.h + padded < size)
                return fail(error, where(s) + ": size=" + std::to_string(size) + " is larger than its input of " +
                                       std::to_string(in.w) + " x " + std::to_string(in.h) + " with padding=" +
                                       std::to_string(padding));
            return true;
        };

        if (s.type == "convolutional") {
            ConvLayer conv;
            conv.line = s.line;
            conv.in_channels = static_cast<int>(in.c);
            int bn = 0, stride = 1, pad = 0, padding = 0, dilation = 1;
            if (!int_key(s, "filters", 1, &conv.filters) || !int_key(s, "size", 1, &conv.size) ||
                !int_key(s, "groups", 1, &conv.groups) || !int_key(s, "batch_normalize", 0, &bn) ||
                !int_key(s, "stride", 1, &stride) || !int_key(s, "pad", 0, &pad) ||
                !int_key(s, "padding", 0, &padding) || !int_key(s, "dilation", 1, &dilation))
                return fail(error, where(s) + " holds a malformed number");
            conv.batch_normalize = bn != 0;
            if (conv.filters <= 0 || conv.size <= 0 || conv.groups <= 0)
                return fail(error, where(s) + " needs positive filters, size and groups");
            if (stride <= 0)
                return fail(error, where(s) + " needs a positive stride");
            if (!plain_strides(stride))
                return fail(error, where(s) + ": stride_x and stride_y other than stride are not supported");
            if (dilation != 1)
                return fail(error, where(s) + ": dilation is not supported");
            if (pad != 0)
                padding = conv.size / 2;
            // Each side gets the padding.
            if (!window_fits(conv.size, stride, padding, 2))
                return false;
            if (in.c % conv.groups != 0 || conv.filters % conv.groups != 0)
                return fail(error, where(s) + ": groups=" + std::to_string(conv.groups) +
                                       " does not divide its channels");
            const long long floats = conv.floats();
            if (floats < 0 || !add(info->weight_floats, floats, &info->weight_floats))
                return fail(error, where(s) + ": its weights overflow a 64-bit count");
            info->convs.push_back(conv);
            out = {out_side(in.w, 2LL * padding, conv.size, stride), out_side(in.h, 2LL * padding, conv.size, stride),
                   conv.filters};
            filter_bytes += 32LL * conv.filters; // at most 2^31 filters in each of 4096 layers
            const ConvCost cost = conv_cost(conv.size, in.c, conv.groups, conv.filters, out.w * out.h);
            info->multiply_adds = sat_add(info->multiply_adds, cost.multiply_adds);
            info->window_reads = sat_add(info->window_reads, cost.gathered);
            if (4 * cost.row_floats > input_limits::kLayerRowBufferBytes)
                refusal = where(s) + ": size=" + std::to_string(conv.size) + " on " +
                          std::to_string(in.c / conv.groups) + " channels needs a row buffer of " +
                          std::to_string(4 * cost.row_floats) + " bytes on each thread, more than the limit of " +
                          std::to_string(input_limits::kLayerRowBufferBytes);
            info->row_buffer_bytes = std::max(info->row_buffer_bytes, 4 * cost.row_floats);
            layer_bytes = sat_add(sat_mul(kCountedThreads, 4 * cost.row_floats), 4 * cost.table_ints);
        } else if (s.type == "route") {
            auto it = s.keys.find("layers");
            std::vector<int> refs;
            if (it == s.keys.end() || !int_list(it->second, &refs))
                return fail(error, where(s) + " needs a list of layers");
            out = Shape();
            for (int ref : refs) {
                Shape from;
                if (!layer(ref, &from))
                    return fail(error, where(s) + " names a layer that does not exist before it");
                out.w = std::max(out.w, from.w);
                out.h = std::max(out.h, from.h);
                out.c += from.c; // each within the working memory budget: the sum cannot overflow
            }
            int groups = 1, group_id = 0;
            if (!int_key(s, "groups", 1, &groups) || !int_key(s, "group_id", 0, &group_id) || groups <= 0 ||
                group_id < 0 || group_id >= groups || out.c % groups != 0)
                return fail(error, where(s) + " holds unusable groups");
            out.c /= groups;
            // OpenCV cuts each of several layers apart before joining the parts.
            if (groups > 1 && refs.size() > 1)
                extra_floats += out.w * out.h * out.c;
        } else if (s.type == "shortcut") {
            auto it = s.keys.find("weights_type");
            if (it != s.keys.end() && it->second != "none")
                return fail(error, where(s) + ": weighted shortcuts are not supported");
            std::vector<int> refs;
            auto from = s.keys.find("from");
            if (from == s.keys.end() || !int_list(from->second, &refs))
                return fail(error, where(s) + " needs from=");
            for (int ref : refs) {
                Shape shape;
                if (!layer(ref, &shape))
                    return fail(error, where(s) + " names a layer that does not exist before it");
            }
        } else if (s.type == "reorg") {
            int stride = 2;
            if (!int_key(s, "stride", 2, &stride) || stride <= 0)
                return fail(error, where(s) + " holds an unusable stride");
            // OpenCV refuses a stride that does not divide both sides.
            if (in.w % stride != 0 || in.h % stride != 0)
                return fail(error, where(s) + ": stride=" + std::to_string(stride) + " does not divide its input of " +
                                       std::to_string(in.w) + " x " + std::to_string(in.h));
            out = {in.w / stride, in.h / stride, 0};
            if (!mul(in.c, stride, &out.c) || !mul(out.c, stride, &out.c))
                return fail(error, where(s) + " gives more channels than a 64-bit count takes");
        } else if (s.type == "scale_channels" || s.type == "sam") {
            std::vector<int> refs;
            auto from = s.keys.find("from");
            Shape shape;
            if (from == s.keys.end() || !int_list(from->second, &refs) || refs.size() != 1 ||
                !layer(refs[0], &shape))
                return fail(error, where(s) + " needs from= naming an earlier layer");
            // OpenCV scales the earlier layer: its output has that layer's sides.
            if (s.type == "scale_channels") {
                if (shape.c != in.c)
                    return fail(error, where(s) + " scales " + std::to_string(shape.c) + " channels by " +
                                           std::to_string(in.c));
                out = shape;
            }
        } else if (s.type == "maxpool") {
            if (s.keys.count("maxpool_depth") && s.keys.at("maxpool_depth") != "0")
                return fail(error, where(s) + ": maxpool_depth is not supported");
            // OpenCV's defaults: size 2, stride 2, padding size - 1 (the sum of
            // both sides, which are padding / 2 rounded down and up).
            int stride = 2, size = 2, padding = 0;
            if (!int_key(s, "stride", 2, &stride) || !int_key(s, "size", 2, &size))
                return fail(error, where(s) + " holds a malformed number");
            if (stride <= 0 || size <= 0)
                return fail(error, where(s) + " needs a positive size and stride");
            if (!int_key(s, "padding", size - 1, &padding))
                return fail(error, where(s) + " holds a malformed number");
            if (!plain_strides(stride))
                return fail(error, where(s) + ": stride_x and stride_y other than stride are not supported");
            if (!window_fits(size, stride, padding, 1))
                return false;
            out.w = out_side(in.w, padding, size, stride);
            out.h = out_side(in.h, padding, size, stride);
            // Each output reads its window's part inside the input, from a
            // table of an int per window position.
            const long long window = std::min<long long>(size, in.w) * std::min<long long>(size, in.h);
            info->window_reads = sat_add(info->window_reads, sat_mul(sat_mul(out.w * out.h, in.c), window));
            layer_bytes = 4LL * size * size;
        } else if (s.type == "avgpool") {
            out.w = out.h = 1;
            // One window over the whole input, and its table of an int a position.
            info->window_reads = sat_add(info->window_reads, sat_mul(in.w * in.h, in.c));
            layer_bytes = 4 * in.w * in.h;
        } else if (s.type == "upsample") {
            // OpenCV's default is 1; it cannot scale down (darknet's negative stride).
            int stride = 1;
            if (!int_key(s, "stride", 1, &stride) || stride <= 0 || stride > input_limits::kLayerSide)
                return fail(error, where(s) + " holds an unusable stride (1 to " + std::to_string(input_limits::kLayerSide) + ")");
            out.w = in.w * stride;
            out.h = in.h * stride;
        } else if (s.type == "dropout") {
        } else if (s.type == "softmax") {
            extra_floats += in.w * in.h;
        } else if (s.type == "yolo" || s.type == "region") {
            int classes = 0, num = 0;
            if (!int_key(s, "classes", 20, &classes) || !int_key(s, "num", 1, &num) || classes <= 0 || num <= 0)
                return fail(error, where(s) + " needs positive classes and num");
            long long expected = 0, cell_boxes = num;
            std::vector<int> m;
            if (s.type == "yolo") {
                auto mask = s.keys.find("mask");
                if (mask != s.keys.end()) {
                    if (!int_list(mask->second, &m))
                        return fail(error, where(s) + " holds a malformed mask");
                    cell_boxes = static_cast<long long>(m.size());
                }
                expected = cell_boxes * (classes + 5LL);
            } else {
                int coords = 4;
                if (!int_key(s, "coords", 4, &coords) || coords <= 0)
                    return fail(error, where(s) + " holds unusable coords");
                expected = num * (coords + 1LL + classes); // below 2^31 * 2^32: no overflow
            }
            if (in.c != expected)
                return fail(error, where(s) + " with classes=" + std::to_string(classes) + " needs " +
                                       std::to_string(expected) + " filters in the layer before it, which gives " +
                                       std::to_string(in.c));
            // OpenCV takes each mask entry's pair from the anchors unchecked.
            auto anchors = s.keys.find("anchors");
            if (anchors == s.keys.end() || number_count(anchors->second) != 2LL * num)
                return fail(error, where(s) + " needs anchors= of " + std::to_string(2LL * num) +
                                       " numbers for num=" + std::to_string(num));
            for (int a : m)
                if (a < 0 || a >= num)
                    return fail(error, where(s) + ": mask names anchor " + std::to_string(a) + " of num=" +
                                           std::to_string(num));
            if (info->classes >= 0 && info->classes != classes)
                return fail(error, where(s) + " has classes=" + std::to_string(classes) +
                                       " while an earlier detection section has " + std::to_string(info->classes));
            info->classes = classes;
            ++info->detection_sections;
            extra_floats += in.w * in.h * in.c;
            // A box per anchor and cell. OpenCV suppresses overlapping boxes
            // inside a [region] layer (its default) and inside a [yolo] layer
            // given an nms_threshold, class by class, each box against every
            // box kept before it; its vectors take 48 bytes a box meanwhile.
            const long long boxes = in.w * in.h * cell_boxes;
            head_boxes += boxes;
            if (s.type == "region" || s.keys.count("nms_threshold")) {
                info->box_comparisons =
                    sat_add(info->box_comparisons, sat_mul(classes, sat_mul(boxes, boxes) / 2));
                layer_bytes = 48 * boxes;
            }
        } else if (s.type == "net" || s.type == "network") {
            return fail(error, where(s) + ": a second [net] section");
        } else {
            return fail(error, where(s) + " is a section the loader does not know");
        }
        if (out.c > INT32_MAX)
            return fail(error, where(s) + " gives more channels than a 32-bit count takes");
        if (out.w > input_limits::kLayerSide || out.h > input_limits::kLayerSide)
            return fail(error, where(s) + " gives an output of " + std::to_string(out.w) + " x " +
                                   std::to_string(out.h) + "; a side may be at most " + std::to_string(input_limits::kLayerSide));
        if (!count(out))
            return over_budget();
        if (!refusal.empty() && bounds == Bounds::Detection)
            return fail(error, refusal);
        if (s.type != "route" && !outputs.empty())
            taken.back() = 1;
        outputs.push_back(out);
        taken.push_back(0);
        pooled.push_back(s.type == "maxpool");
        largest_layer_bytes = std::max(largest_layer_bytes, layer_bytes);
    }
    if (info->detection_sections == 0)
        return fail(error, "the description has no [yolo] or [region] section");
    // The detector suppresses the boxes of every head together, each box among
    // those of its best class.
    info->box_comparisons = sat_add(info->box_comparisons, sat_mul(head_boxes, head_boxes) / 2);
    // The weights file's size in bytes must be countable too.
    long long bytes = 0;
    if (!mul(info->weight_floats, 4, &bytes) || !add(bytes, 20, &bytes))
        return fail(error, "the description's weights overflow a 64-bit count");
    if (bytes > input_limits::kModelWeightsBytes)
        return fail(error, "the description needs " + std::to_string(bytes) +
                               " bytes of weights, more than the limit of " + std::to_string(input_limits::kModelWeightsBytes >> 30) +
                               " GiB");
    // Everything a load holds at its peak, in its warm-up forward pass: the
    // weights three times (the loader's copy, OpenCV's blobs, and its aligned
    // or batch-normalised copy of each kernel), the input four times (the
    // image, its blob, OpenCV's input copy and a conversion's), every layer's
    // output and what OpenCV adds to them (above; and a max pool whose output
    // no later layer takes becomes an output of the network, which OpenCV
    // gives a second output of that size, where the maxima lie), and some
    // 8 KiB of bookkeeping for each section.
    long long floats = info->working_floats + extra_floats + 3LL * info->width * info->height * 3;
    for (size_t i = 0; i < outputs.size(); ++i)
        if (pooled[i] && !taken[i])
            floats += outputs[i].w * outputs[i].h * outputs[i].c;
    info->memory_bytes = sat_add(sat_add(sat_add(sat_mul(3, bytes), 4 * floats), filter_bytes),
                                 sat_add(largest_layer_bytes, kSectionBytes * static_cast<long long>(sections.size())));
    if (bounds == Bounds::Weights)
        return true;
    const std::string of_input = " (an input of " + std::to_string(info->width) + " x " + std::to_string(info->height) + ")";
    if (info->memory_bytes > input_limits::kWorkingMemoryBytes)
        return fail(error, "the network needs " + std::to_string(info->memory_bytes >> 20) +
                               " MiB, more than the working memory budget of " +
                               std::to_string(input_limits::kWorkingMemoryBytes >> 20) + " MiB" + of_input);
    if (info->multiply_adds > input_limits::kNetworkMultiplyAdds)
        return fail(error, "the network needs " + std::to_string(info->multiply_adds) +
                               " multiply-adds, more than the limit of " +
                               std::to_string(input_limits::kNetworkMultiplyAdds) + of_input);
    if (info->window_reads > input_limits::kNetworkWindowReads)
        return fail(error, "the network reads " + std::to_string(info->window_reads) +
                               " values through its windows, more than the limit of " +
                               std::to_string(input_limits::kNetworkWindowReads) + of_input);
    if (info->box_comparisons > input_limits::kNetworkBoxComparisons)
        return fail(error, "the network's boxes need " + std::to_string(info->box_comparisons) +
                               " comparisons to suppress overlaps, more than the limit of " +
                               std::to_string(input_limits::kNetworkBoxComparisons) + of_input);
    return true;
}

std::string prepare_for_opencv(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 64);
    bool in_detection = false;
    auto close_section = [&]() {
        if (in_detection) {
            if (!out.empty() && out.back() != '\n')
                out += '\n';
            out += "thresh=0\n";
        }
    };
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        const bool has_newline = end != std::string::npos;
        if (!has_newline)
            end = text.size();
        const std::string raw = text.substr(pos, end - pos);
        pos = has_newline ? end + 1 : end;

        const std::string line = without_blanks(raw);
        const bool comment = line.empty() || line[0] == '#' || line[0] == ';';
        if (!comment && line[0] == '[') {
            close_section();
            const std::string type = header_type(line);
            in_detection = type == "yolo" || type == "region";
        } else if (!comment) {
            const size_t eq = line.find('=');
            const std::string key = line.substr(0, eq);
            if (in_detection && key == "thresh")
                continue; // replaced by our own line at the end of the section
            if (key == "activation" && eq != std::string::npos && line.substr(eq + 1) == "silu") {
                out += "activation=swish";
                if (has_newline)
                    out += '\n';
                continue;
            }
        }
        out += raw;
        if (has_newline)
            out += '\n';
    }
    close_section();
    return out;
}

int weights_header_bytes(const std::string& weights)
{
    if (weights.size() < 12)
        return -1;
    std::int32_t major = 0, minor = 0;
    std::memcpy(&major, weights.data(), 4);
    std::memcpy(&minor, weights.data() + 4, 4);
    return static_cast<long long>(major) * 10 + minor >= 2 ? 20 : 16;
}

bool check_weights_file_size(const NetInfo& info, long long file_bytes, std::string* error)
{
    const long long body = info.weight_floats * 4;
    if (file_bytes == 16 + body || file_bytes == 20 + body)
        return true;
    return fail(error, "train.weights holds " + std::to_string(file_bytes) + " bytes; the description needs " +
                           std::to_string(20 + body) + " (a 20-byte header and " +
                           std::to_string(info.weight_floats) + " floats)");
}

bool check_weights_size(const NetInfo& info, const std::string& weights, std::string* error)
{
    const int header = weights_header_bytes(weights);
    const long long expected_body = info.weight_floats * 4;
    if (header < 0)
        return fail(error, "train.weights holds " + std::to_string(weights.size()) +
                               " bytes, too short for a header; the description needs " +
                               std::to_string(20 + expected_body));
    const long long expected = header + expected_body;
    if (static_cast<long long>(weights.size()) != expected)
        return fail(error, "train.weights holds " + std::to_string(weights.size()) + " bytes; the description needs " +
                               std::to_string(expected) + " (a " + std::to_string(header) + "-byte header and " +
                               std::to_string(info.weight_floats) + " floats)");
    return true;
}

} // namespace darknet_cfg
