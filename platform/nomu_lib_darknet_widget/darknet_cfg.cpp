#include "darknet_cfg.h"
#include "input_limits.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>

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

bool analyse(const std::string& text, NetInfo* info, std::string* error)
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
    for (size_t i = 1; i < sections.size(); ++i) {
        const Section& s = sections[i];
        const int index = static_cast<int>(i) - 1;
        const Shape in = outputs.empty() ? input : outputs.back();
        Shape out = in;

        auto layer = [&](int ref, Shape* shape) {
            const int j = ref < 0 ? index + ref : ref;
            if (j < 0 || j >= index)
                return false;
            *shape = outputs[static_cast<size_t>(j)];
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
        } else if (s.type == "avgpool") {
            out.w = out.h = 1;
        } else if (s.type == "upsample") {
            // OpenCV's default is 1; it cannot scale down (darknet's negative stride).
            int stride = 1;
            if (!int_key(s, "stride", 1, &stride) || stride <= 0 || stride > input_limits::kLayerSide)
                return fail(error, where(s) + " holds an unusable stride (1 to " + std::to_string(input_limits::kLayerSide) + ")");
            out.w = in.w * stride;
            out.h = in.h * stride;
        } else if (s.type == "dropout" || s.type == "softmax") {
        } else if (s.type == "yolo" || s.type == "region") {
            int classes = 0, num = 0;
            if (!int_key(s, "classes", 20, &classes) || !int_key(s, "num", 1, &num) || classes <= 0 || num <= 0)
                return fail(error, where(s) + " needs positive classes and num");
            long long expected = 0;
            std::vector<int> m;
            if (s.type == "yolo") {
                long long anchors = num;
                auto mask = s.keys.find("mask");
                if (mask != s.keys.end()) {
                    if (!int_list(mask->second, &m))
                        return fail(error, where(s) + " holds a malformed mask");
                    anchors = static_cast<long long>(m.size());
                }
                expected = anchors * (classes + 5LL);
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
        outputs.push_back(out);
    }
    if (info->detection_sections == 0)
        return fail(error, "the description has no [yolo] or [region] section");
    // The weights file's size in bytes must be countable too.
    long long bytes = 0;
    if (!mul(info->weight_floats, 4, &bytes) || !add(bytes, 20, &bytes))
        return fail(error, "the description's weights overflow a 64-bit count");
    if (bytes > input_limits::kModelWeightsBytes)
        return fail(error, "the description needs " + std::to_string(bytes) +
                               " bytes of weights, more than the limit of " + std::to_string(input_limits::kModelWeightsBytes >> 30) +
                               " GiB");
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
