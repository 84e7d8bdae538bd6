#include "fixture_model.h"

#include "darknet_cfg.h"
#include "simplecrypt.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

namespace fixture {

namespace {

void put(QByteArray& out, const void* p, int n) { out.append(static_cast<const char*>(p), n); }

void put_floats(QByteArray& out, int n, float value)
{
    for (int i = 0; i < n; ++i)
        put(out, &value, 4);
}

QByteArray header()
{
    QByteArray out;
    const std::int32_t v[3] = {0, 2, 5};
    const std::uint64_t seen = 0;
    put(out, v, 12);
    put(out, &seen, 8);
    return out;
}

} // namespace

QString nomued_det52_cfg(int classes, bool markers)
{
    QString text = QStringLiteral(
        "[net]\n# batch=64\n# subdivisions=16\nbatch=1\nsubdivisions=1\nwidth=52\nheight=52\nchannels=3\n"
        "momentum=0.9\ndecay=0.0005\nangle=0\nsaturation = 1.5\nexposure = 1.5\nhue=.1\n\n"
        "learning_rate=0.00261\nburn_in=1000\nmax_batches = 500200\npolicy=steps\nsteps=400000,450000\n"
        "scales=.1,.1\n\n");
    if (markers)
        text += "#**<>\n";
    const char* bn_conv = "[convolutional]\nbatch_normalize=1\nfilters=%1\nsize=%2\nstride=1\npad=1\n"
                          "activation=leaky\n\n";
    const char* pool = "[maxpool]\nsize=2\nstride=2\n\n";
    text += QString(bn_conv).arg(4).arg(3);
    text += pool;
    text += QString(bn_conv).arg(8).arg(3);
    text += pool;
    text += QString(bn_conv).arg(16).arg(3);
    text += QString(bn_conv).arg(8).arg(1);
    text += QString(bn_conv).arg(16).arg(3);
    text += QStringLiteral("[convolutional]\nsize=1\nstride=1\npad=1\nfilters=%1\nactivation=linear\n\n")
                .arg(3 * classes + 15);
    text += QStringLiteral(
                "[yolo]\nmask = 0,1,2\nanchors = 10,14,  23,27,  37,58,  81,82,  135,169,  344,319\n"
                "classes=%1\nnum=6\njitter=.3\nscale_x_y = 1.05\ncls_normalizer=1.0\niou_normalizer=0.07\n"
                "iou_loss=ciou\nignore_thresh = .7\ntruth_thresh = 1\nrandom=0\nresize=1.5\n"
                "nms_kind=greedynms\nbeta_nms=0.6\n")
                .arg(classes);
    if (markers)
        text += "#**<>\n";
    return text;
}

QByteArray nomued_det52_weights(int classes, const AnchorBias anchors[3])
{
    QByteArray out = header();
    struct Conv {
        int filters, in_c, size;
    };
    const Conv bn_convs[] = {{4, 3, 3}, {8, 4, 3}, {16, 8, 3}, {8, 16, 1}, {16, 8, 3}};
    for (const Conv& c : bn_convs) {
        put_floats(out, c.filters, 0.f); // biases
        put_floats(out, c.filters, 1.f); // scales
        put_floats(out, c.filters, 0.f); // rolling mean
        put_floats(out, c.filters, 1.f); // rolling variance
        put_floats(out, c.filters * c.in_c * c.size * c.size, 0.f);
    }
    const int per_anchor = 5 + classes;
    for (int a = 0; a < 3; ++a) {
        const AnchorBias& b = anchors[a];
        const float head[5] = {b.tx, b.ty, b.tw, b.th, b.obj};
        put(out, head, 20);
        for (int c = 0; c < classes; ++c) {
            const float v = c < static_cast<int>(b.cls.size()) ? b.cls[static_cast<size_t>(c)] : -8.f;
            put(out, &v, 4);
        }
    }
    put_floats(out, 3 * per_anchor * 16, 0.f); // last convolution's kernels
    return out;
}

static QByteArray two_class(float tw, float obj, float c0)
{
    AnchorBias a[3];
    a[0].tw = tw;
    a[0].th = tw;
    a[0].obj = obj;
    a[0].cls = {c0, -8.f};
    return nomued_det52_weights(2, a);
}

QByteArray small_boxes_weights() { return two_class(-3.f, 8.f, 8.f); }
QByteArray big_box_weights() { return two_class(3.f, 8.f, 8.f); }
QByteArray low_score_weights() { return two_class(-3.f, static_cast<float>(std::log(0.1 / 0.9)), 20.f); }

QString protected_form(const QString& text)
{
    const QStringList parts = text.split('\n');
    QString head, body;
    bool in_body = false;
    for (const QString& part : parts) {
        if (part.contains("#**<>")) {
            in_body = true;
            continue;
        }
        (in_body ? body : head) += part + "\n";
    }
    return head + "<-<+>->" + SimpleCrypt(kNomuCryptKey).encryptToString(body);
}

bool write_model_folder(const QString& dir, const QString& cfg, const QByteArray& weights, const QStringList& names)
{
    if (!QDir().mkpath(dir))
        return false;
    auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(dir + "/" + name);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    };
    QByteArray names_text;
    for (const QString& n : names)
        names_text += n.toUtf8() + "\n";
    return write("obj.names", names_text) && write("test.cfg", cfg.toUtf8()) && write("train.weights", weights);
}

QString v4_tiny_cfg(int classes, int size)
{
    const QString filters = QString::number(3 * (classes + 5));
    auto conv = [](int f, int k, int stride = 1) {
        return QStringLiteral("[convolutional]\nbatch_normalize=1\nfilters=%1\nsize=%2\nstride=%3\npad=1\n"
                              "activation=leaky\n\n")
            .arg(f)
            .arg(k)
            .arg(stride);
    };
    auto split = [] { return QStringLiteral("[route]\nlayers=-1\ngroups=2\ngroup_id=1\n\n"); };
    auto yolo = [classes](const char* mask) {
        return QStringLiteral("[yolo]\nmask = %1\nanchors = 10,14,  23,27,  37,58,  81,82,  135,169,  344,319\n"
                              "classes=%2\nnum=6\njitter=.3\nscale_x_y = 1.05\ncls_normalizer=1.0\n"
                              "iou_normalizer=0.07\niou_loss=ciou\nignore_thresh = .7\ntruth_thresh = 1\n"
                              "random=0\nresize=1.5\nnms_kind=greedynms\nbeta_nms=0.6\n\n")
            .arg(mask)
            .arg(classes);
    };
    const QString head = QStringLiteral("[net]\nbatch=1\nsubdivisions=1\nwidth=%1\nheight=%1\nchannels=3\n"
                                        "momentum=0.9\ndecay=0.0005\nangle=0\nsaturation = 1.5\nexposure = 1.5\n"
                                        "hue=.1\n\nlearning_rate=0.00261\nburn_in=1000\nmax_batches = 500200\n"
                                        "policy=steps\nsteps=400000,450000\nscales=.1,.1\n\n")
                             .arg(size);
    QString t = head;
    t += conv(32, 3, 2) + conv(64, 3, 2) + conv(64, 3) + split() + conv(32, 3) + conv(32, 3);
    t += "[route]\nlayers = -1,-2\n\n" + conv(64, 1) + "[route]\nlayers = -6,-1\n\n[maxpool]\nsize=2\nstride=2\n\n";
    t += conv(128, 3) + split() + conv(64, 3) + conv(64, 3);
    t += "[route]\nlayers = -1,-2\n\n" + conv(128, 1) + "[route]\nlayers = -6,-1\n\n[maxpool]\nsize=2\nstride=2\n\n";
    t += conv(256, 3) + split() + conv(128, 3) + conv(128, 3);
    t += "[route]\nlayers = -1,-2\n\n" + conv(256, 1) + "[route]\nlayers = -6,-1\n\n[maxpool]\nsize=2\nstride=2\n\n";
    t += conv(512, 3) + conv(256, 1) + conv(512, 3);
    t += "[convolutional]\nsize=1\nstride=1\npad=1\nfilters=" + filters + "\nactivation=linear\n\n";
    t += yolo("3,4,5");
    t += "[route]\nlayers = -4\n\n" + conv(128, 1) + "[upsample]\nstride=2\n\n[route]\nlayers = -1, 23\n\n";
    t += conv(256, 3);
    t += "[convolutional]\nsize=1\nstride=1\npad=1\nfilters=" + filters + "\nactivation=linear\n\n";
    t += yolo("1,2,3");
    return t;
}

QString overflowing_cfg()
{
    return QStringLiteral("[net]\nwidth=1\nheight=1\nchannels=3\n\n"
                          "[convolutional]\nfilters=524288\nsize=1\n\n"
                          "[convolutional]\nfilters=2097152\nsize=4096\npad=1\nstride=4096\n\n"
                          "[yolo]\nmask=0\nanchors=10,14\nclasses=2097147\nnum=1\n");
}

QByteArray random_weights(const QString& cfg, unsigned seed)
{
    darknet_cfg::NetInfo info;
    std::string error;
    if (!darknet_cfg::analyse(cfg.toStdString(), &info, &error))
        return QByteArray();
    QByteArray out = header();
    out.reserve(static_cast<int>(out.size() + info.weight_floats * 4));
    std::mt19937 rng(seed);
    for (const darknet_cfg::ConvLayer& c : info.convs) {
        std::uniform_real_distribution<float> small(-0.1f, 0.1f);
        for (int i = 0; i < c.filters; ++i) {
            const float v = small(rng);
            put(out, &v, 4);
        }
        if (c.batch_normalize) {
            put_floats(out, c.filters, 1.f);
            put_floats(out, c.filters, 0.f);
            put_floats(out, c.filters, 1.f);
        }
        const long long n = static_cast<long long>(c.filters) * (c.in_channels / c.groups) * c.size * c.size;
        const float limit = std::sqrt(3.f / static_cast<float>((c.in_channels / c.groups) * c.size * c.size));
        std::uniform_real_distribution<float> kernel(-limit, limit);
        for (long long i = 0; i < n; ++i) {
            const float v = kernel(rng);
            put(out, &v, 4);
        }
    }
    return out;
}

double small_box_centre_x(int col, int image_w)
{
    // scale_x_y 1.05 with tx 0: sigmoid(0) * 1.05 - 0.025 = 0.5 of the cell.
    return (col + 0.5) / 13.0 * image_w;
}

} // namespace fixture
