#!/usr/bin/env python3
"""Writes the embedded network templates, trainer/yolo_cfg/<model>/yolo-{train,test}-template.cfg.

The templates are committed; this script is their source. Run it from anywhere after a change
(python3 trainer/yolo_cfg/generate_templates.py) and commit its output with it; the test
tst_network_description_sources checks that the committed files are what it writes.

Every model variant is built from a small description of its family's layout. The layouts are
the public darknet ones whose section counts the trainer relies on:

  V2                 yolov2            (23 [convolutional], 1 [region], reorg pass-through)
  V2-tiny            yolov2-tiny       (9 [convolutional], 1 [region])
  V3                 yolov3            (75 [convolutional], 3 [yolo], Darknet-53 backbone)
  V3-tiny            yolov3-tiny       (13 [convolutional], 2 [yolo])
  V4                 yolov4            (110 [convolutional], 3 [yolo], CSPDarknet53, SPP, PAN, mish)
  V4-tiny(-N)        yolov4-tiny       (21 [convolutional], 2 [yolo], CSP route groups)
  NomuedDet2-N       yolov4-tiny layout, protected
  KVTRDet-N          yolov4-tiny layout, protected
  V7                 yolov7            (92 [convolutional], 3 [yolo], E-ELAN, SPPCSPC, swish, new_coords)
  V7-tiny(-N)        yolov7-tiny       (58 [convolutional], 3 [yolo], leaky, new_coords)
  Fastest-1.1-320    Yolo-Fastest 1.1  (84 [convolutional], 2 [yolo], inverted residuals, depthwise heads)
  Fastest-1.1-XL-N   Yolo-Fastest 1.1 XL (the same layout, wider)
  NomuedDet-N        the trainer's own 6-convolution detector

Placeholders filled by the trainer: "@@@@" (classes), "$$$$" (filters of the convolution before
each detection layer), "$$batch$$" and "$$subdivisions$$" ([net] of the train template; in the
test template they stand only in comment lines and stay as they are). The protected families
carry the marker line "#**<>" after [net] and after the last layer: the trainer writes the part
between them enciphered.

Only what OpenCV 4.6's darknet importer loads is used: the sigmoid-weighted linear unit is
spelled "swish" (the importer rejects "silu").

Anchors are in pixels of the network input; the size variants of a family (V4-tiny-64, ...)
scale the family's anchors with the input size, so that a variant keeps the same anchors
relative to the image. The NomuedDet family keeps its anchors at every size.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MARKER = "#**<>"


def fmt_anchors(pairs):
    return ",  ".join("%d,%d" % p for p in pairs)


def scale_anchors(pairs, factor):
    return [(max(1, int(round(w * factor))), max(1, int(round(h * factor)))) for w, h in pairs]


class Abs:
    """A route target printed as an absolute layer index (as darknet layouts do for far-off layers)."""

    def __init__(self, index):
        self.index = index


class Net:
    """The layers of a description after [net]; layer indices count sections, as darknet does."""

    def __init__(self):
        self.blocks = []
        self.count = 0

    def comment(self, text):
        self.blocks.append(["# " + text])

    def section(self, name, lines):
        self.blocks.append(["[%s]" % name] + list(lines))
        self.count += 1
        return self.count - 1

    def _ref(self, target):
        here = self.count
        if isinstance(target, Abs):
            assert 0 <= target.index < here
            return str(target.index)
        if target < 0:
            assert here + target >= 0
            return str(target)
        assert target < here
        return str(target - here)

    def conv(self, filters, size, stride=1, act="leaky", groups=None):
        lines = ["batch_normalize=1", "filters=%d" % filters, "size=%d" % size]
        if groups:
            lines.append("groups=%d" % groups)
        lines += ["stride=%d" % stride, "pad=1", "activation=%s" % act]
        return self.section("convolutional", lines)

    def dwconv(self, filters, size, stride=1, act="leaky"):
        return self.conv(filters, size, stride, act, groups=filters)

    def detection_conv(self, act="linear"):
        return self.section("convolutional",
                            ["size=1", "stride=1", "pad=1", "filters=$$$$", "activation=%s" % act])

    def maxpool(self, size=2, stride=2):
        return self.section("maxpool", ["size=%d" % size, "stride=%d" % stride])

    def upsample(self, stride=2):
        return self.section("upsample", ["stride=%d" % stride])

    def reorg(self, stride=2):
        return self.section("reorg", ["stride=%d" % stride])

    def dropout(self, probability=".15"):
        return self.section("dropout", ["probability=%s" % probability])

    def route(self, *targets, groups=None, group_id=None):
        lines = ["layers = " + ", ".join(self._ref(t) for t in targets)]
        if groups:
            lines += ["groups=%d" % groups, "group_id=%d" % group_id]
        return self.section("route", lines)

    def shortcut(self, source, act="linear"):
        return self.section("shortcut", ["from=" + self._ref(source), "activation=%s" % act])

    def lines(self):
        out = []
        for b in self.blocks:
            out += b
            out.append("")
        return out


# --------------------------------------------------------------------------------------------
# [net] heads

AUGMENT = ["angle=0", "saturation = 1.5", "exposure = 1.5", "hue=.1"]


def net_head(mode, size, lr, burn_in, max_batches, steps, momentum="0.9", extra=()):
    lines = ["[net]"]
    if mode == "train":
        lines += ["# Testing", "# batch=1", "# subdivisions=1",
                  "# Training", "batch=$$batch$$", "subdivisions=$$subdivisions$$"]
    else:
        lines += ["# Testing", "batch=1", "subdivisions=1",
                  "# Training", "# batch=$$batch$$", "# subdivisions=$$subdivisions$$"]
    lines += ["width=%d" % size, "height=%d" % size, "channels=3",
              "momentum=%s" % momentum, "decay=0.0005"] + AUGMENT + [""]
    lines += ["learning_rate=%s" % lr, "burn_in=%d" % burn_in, "max_batches = %d" % max_batches,
              "policy=steps", "steps=%s" % steps, "scales=.1,.1"]
    lines += list(extra)
    return lines + [""]


# --------------------------------------------------------------------------------------------
# Families

def yolov2(size):
    n = Net()
    c = n.conv
    c(32, 3); n.maxpool()
    c(64, 3); n.maxpool()
    c(128, 3); c(64, 1); c(128, 3); n.maxpool()
    c(256, 3); c(128, 1); c(256, 3); n.maxpool()
    c(512, 3); c(256, 1); c(512, 3); c(256, 1); passthrough = c(512, 3); n.maxpool()
    c(1024, 3); c(512, 1); c(1024, 3); c(512, 1); c(1024, 3)
    n.comment("detection")
    c(1024, 3); deep = c(1024, 3)
    n.route(passthrough)
    c(64, 1)
    n.reorg(2)
    n.route(-1, deep)
    c(1024, 3)
    n.detection_conv()
    n.section("region", [
        "anchors =  0.57273, 0.677385, 1.87446, 2.06253, 3.33843, 5.47434, 7.88282, 3.52778, 9.77052, 9.16828",
        "bias_match=1", "classes=@@@@", "coords=4", "num=5", "softmax=1", "jitter=.3", "rescore=1",
        "object_scale=5", "noobject_scale=1", "class_scale=1", "coord_scale=1", "absolute=1",
        "thresh = .6", "random=1"])
    return net_head, dict(lr="0.001", burn_in=1000, max_batches=500200, steps="400000,450000"), n


def yolov2_tiny(size):
    n = Net()
    c = n.conv
    for f in (16, 32, 64, 128, 256):
        c(f, 3); n.maxpool()
    c(512, 3); n.maxpool(2, 1)
    c(1024, 3)
    n.comment("detection")
    c(512, 3)
    n.detection_conv()
    n.section("region", [
        "anchors =  0.57273, 0.677385, 1.87446, 2.06253, 3.33843, 5.47434, 7.88282, 3.52778, 9.77052, 9.16828",
        "bias_match=1", "classes=@@@@", "coords=4", "num=5", "softmax=1", "jitter=.2", "rescore=0",
        "object_scale=5", "noobject_scale=1", "class_scale=1", "coord_scale=1", "absolute=1",
        "thresh = .6", "random=1"])
    return net_head, dict(lr="0.001", burn_in=1000, max_batches=500200, steps="400000,450000"), n


def yolo_lines(mask, anchors, num, extra):
    return ["mask = " + mask, "anchors = " + fmt_anchors(anchors), "classes=@@@@", "num=%d" % num] + extra


V3_ANCHORS = [(10, 13), (16, 30), (33, 23), (30, 61), (62, 45), (59, 119), (116, 90), (156, 198), (373, 326)]
V3_YOLO = ["jitter=.3", "ignore_thresh = .7", "truth_thresh = 1", "random=1"]


def yolov3(size):
    n = Net()
    c = n.conv

    def residual(f, times):
        for _ in range(times):
            start = n.count - 1
            c(f // 2, 1); c(f, 3)
            n.shortcut(start)
        return n.count - 1

    c(32, 3)
    c(64, 3, 2); residual(64, 1)
    c(128, 3, 2); residual(128, 2)
    c(256, 3, 2); c3 = residual(256, 8)
    c(512, 3, 2); c4 = residual(512, 8)
    c(1024, 3, 2); residual(1024, 4)
    n.comment("detection")
    anchors = V3_ANCHORS
    for i, (f, mask, lateral) in enumerate(((512, "6,7,8", None), (256, "3,4,5", c4), (128, "0,1,2", c3))):
        if lateral is not None:
            n.route(-4)
            c(f, 1)
            n.upsample(2)
            n.route(-1, Abs(lateral))
        c(f, 1); c(f * 2, 3); c(f, 1); c(f * 2, 3); c(f, 1); c(f * 2, 3)
        n.detection_conv()
        n.section("yolo", yolo_lines(mask, anchors, 9, V3_YOLO))
    return net_head, dict(lr="0.001", burn_in=1000, max_batches=500200, steps="400000,450000"), n


TINY_ANCHORS = [(10, 14), (23, 27), (37, 58), (81, 82), (135, 169), (344, 319)]


def yolov3_tiny(size):
    n = Net()
    c = n.conv
    for f in (16, 32, 64, 128):
        c(f, 3); n.maxpool()
    mid = c(256, 3); n.maxpool()
    c(512, 3); n.maxpool(2, 1)
    c(1024, 3)
    n.comment("detection")
    c(256, 1); c(512, 3)
    n.detection_conv()
    n.section("yolo", yolo_lines("3,4,5", TINY_ANCHORS, 6, V3_YOLO))
    n.route(-4)
    c(128, 1)
    n.upsample(2)
    n.route(-1, Abs(mid))
    c(256, 3)
    n.detection_conv()
    n.section("yolo", yolo_lines("0,1,2", TINY_ANCHORS, 6, V3_YOLO))
    return net_head, dict(lr="0.001", burn_in=1000, max_batches=500200, steps="400000,450000"), n


V4_ANCHORS = [(12, 16), (19, 36), (40, 28), (36, 75), (76, 55), (72, 146), (142, 110), (192, 243), (459, 401)]


def yolov4(size):
    n = Net()

    def c(f, k, s=1, act="mish"):
        return n.conv(f, k, s, act)

    def csp_stage(f, blocks, first=False):
        # Downsample, split into a residual path and a bypass, merge.
        n.comment("Downsample")
        c(f, 3, 2)
        half = f if first else f // 2
        bypass = c(half, 1)
        n.route(-2)
        c(half, 1)
        for _ in range(blocks):
            start = n.count - 1
            c(f // 2 if first else half, 1); c(half, 3)
            n.shortcut(start)
        c(half, 1)
        n.route(-1, bypass)
        return c(f, 1)

    c(32, 3)
    csp_stage(64, 1, first=True)
    csp_stage(128, 2)
    p3 = csp_stage(256, 8)
    p4 = csp_stage(512, 8)
    csp_stage(1024, 4)
    n.comment("neck")

    def l(f, k, s=1):
        return n.conv(f, k, s, "leaky")

    l(512, 1); l(1024, 3); l(512, 1)
    n.comment("SPP")
    n.maxpool(5, 1)
    n.route(-2)
    n.maxpool(9, 1)
    n.route(-4)
    n.maxpool(13, 1)
    n.route(-1, -3, -5, -6)
    n.comment("End SPP")
    l(512, 1); l(1024, 3); n5 = l(512, 1)
    l(256, 1)
    n.upsample(2)
    n.route(Abs(p4))
    l(256, 1)
    n.route(-1, -3)
    l(256, 1); l(512, 3); l(256, 1); l(512, 3); n4 = l(256, 1)
    l(128, 1)
    n.upsample(2)
    n.route(Abs(p3))
    l(128, 1)
    n.route(-1, -3)
    l(128, 1); l(256, 3); l(128, 1); l(256, 3); l(128, 1)
    n.comment("detection")
    common = ["jitter=.3", "ignore_thresh = .7", "truth_thresh = 1", "random=1", "iou_thresh=0.213",
              "cls_normalizer=1.0", "iou_normalizer=0.07", "iou_loss=ciou", "nms_kind=greedynms",
              "beta_nms=0.6", "max_delta=5"]
    l(256, 3)
    n.detection_conv()
    n.section("yolo", yolo_lines("0,1,2", V4_ANCHORS, 9, ["scale_x_y = 1.2"] + common))
    n.route(-4)
    l(256, 3, 2)
    n.route(-1, n4)
    l(256, 1); l(512, 3); l(256, 1); l(512, 3); l(256, 1); l(512, 3)
    n.detection_conv()
    n.section("yolo", yolo_lines("3,4,5", V4_ANCHORS, 9, ["scale_x_y = 1.1"] + common))
    n.route(-4)
    l(512, 3, 2)
    n.route(-1, n5)
    l(512, 1); l(1024, 3); l(512, 1); l(1024, 3); l(512, 1); l(1024, 3)
    n.detection_conv()
    n.section("yolo", yolo_lines("6,7,8", V4_ANCHORS, 9, ["scale_x_y = 1.05"] + common))
    return (net_head, dict(lr="0.001", burn_in=1000, max_batches=500500, steps="400000,450000",
                           momentum="0.949", extra=["", "mosaic=1"]), n)


V4_TINY_YOLO = ["jitter=.3", "scale_x_y = 1.05", "cls_normalizer=1.0", "iou_normalizer=0.07",
                "iou_loss=ciou", "ignore_thresh = .7", "truth_thresh = 1", "random=0", "resize=1.5",
                "nms_kind=greedynms", "beta_nms=0.6"]


def yolov4_tiny_layers(size):
    n = Net()
    c = n.conv
    anchors = scale_anchors(TINY_ANCHORS, size / 416.0)
    c(32, 3, 2)
    c(64, 3, 2)
    lateral = None
    for f in (64, 128, 256):
        if f != 64:
            n.maxpool()
        c(f, 3)
        n.route(-1, groups=2, group_id=1)
        c(f // 2, 3); c(f // 2, 3)
        n.route(-1, -2)
        lateral = c(f, 1)
        n.route(-6, -1)
    n.maxpool()
    c(512, 3)
    n.comment("detection")
    c(256, 1); c(512, 3)
    n.detection_conv()
    n.section("yolo", yolo_lines("3,4,5", anchors, 6, V4_TINY_YOLO))
    n.route(-4)
    c(128, 1)
    n.upsample(2)
    n.route(-1, Abs(lateral))
    c(256, 3)
    n.detection_conv()
    n.section("yolo", yolo_lines("1,2,3", anchors, 6, V4_TINY_YOLO))
    return n


def yolov4_tiny(size):
    return (net_head, dict(lr="0.00261", burn_in=1000, max_batches=500200, steps="400000,450000"),
            yolov4_tiny_layers(size))


def protected_tiny(size):
    return (net_head, dict(lr="0.00261", burn_in=1000, max_batches=2000200, steps="1600000,1800000"),
            yolov4_tiny_layers(size))


V7_YOLO = ["jitter=.1", "scale_x_y = 2.0", "objectness_smooth=1", "ignore_thresh = .7",
           "truth_thresh = 1", "resize=1.5", "iou_thresh=0.2", "iou_normalizer=0.05",
           "cls_normalizer=0.5", "obj_normalizer=1.0", "iou_loss=ciou", "nms_kind=diounms",
           "beta_nms=0.6", "new_coords=1", "max_delta=2"]


def yolov7(size):
    n = Net()

    def c(f, k, s=1):
        return n.conv(f, k, s, "swish")

    def elan(f, out):
        # Two 1x1 branches, four 3x3 convolutions on the second, four of the six joined.
        first = c(f, 1)
        n.route(-2)
        c(f, 1)
        c(f, 3); c(f, 3); c(f, 3); c(f, 3)
        n.route(-1, -3, -5, first)
        return c(out, 1)

    def elan_head(f, out):
        first = c(f, 1)
        n.route(-2)
        c(f, 1)
        c(f // 2, 3); c(f // 2, 3); c(f // 2, 3); c(f // 2, 3)
        n.route(-1, -2, -3, -4, -5, first)
        return c(out, 1)

    def mp(f, *join):
        # Max-pool branch and strided-convolution branch, side by side.
        src = n.count - 1
        n.maxpool()
        pooled = c(f, 1)
        n.route(src)
        c(f, 1)
        c(f, 3, 2)
        return n.route(-1, pooled, *join)

    c(32, 3)
    c(64, 3, 2)
    c(64, 3)
    c(128, 3, 2)
    elan(64, 256)
    mp(128)
    p3 = elan(128, 512)
    mp(256)
    p4 = elan(256, 1024)
    mp(512)
    elan(256, 1024)
    n.comment("SPPCSPC")
    bypass = c(512, 1)
    n.route(-2)
    c(512, 1); c(512, 3)
    x1 = c(512, 1)
    n.maxpool(5, 1)
    n.route(x1)
    n.maxpool(9, 1)
    n.route(x1)
    n.maxpool(13, 1)
    n.route(-1, -3, -5, x1)
    c(512, 1); c(512, 3)
    n.route(-1, bypass)
    s5 = c(512, 1)
    n.comment("head")
    c(256, 1)
    n.upsample(2)
    n.route(Abs(p4))
    c(256, 1)
    n.route(-1, -3)
    h4 = elan_head(256, 256)
    c(128, 1)
    n.upsample(2)
    n.route(Abs(p3))
    c(128, 1)
    n.route(-1, -3)
    h3 = elan_head(128, 128)
    mp(128, h4)
    o4 = elan_head(256, 256)
    mp(256, s5)
    o5 = elan_head(512, 512)
    n.comment("detection")
    anchors = V4_ANCHORS
    for src, f, mask in ((h3, 256, "0,1,2"), (o4, 512, "3,4,5"), (o5, 1024, "6,7,8")):
        if src != n.count - 1:
            n.route(Abs(src))
        c(f, 3)
        n.detection_conv("logistic")
        n.section("yolo", yolo_lines(mask, anchors, 9, V7_YOLO))
    return (net_head, dict(lr="0.00261", burn_in=1000, max_batches=2000200, steps="1600000,1800000",
                           momentum="0.937"), n)


def yolov7_tiny(size):
    n = Net()
    c = n.conv
    anchors = scale_anchors(V3_ANCHORS, size / 416.0)

    def elan(f, out):
        first = c(f, 1)
        n.route(-2)
        c(f, 1)
        c(f, 3); c(f, 3)
        n.route(-1, -2, -3, first)
        return c(out, 1)

    c(32, 3, 2)
    c(64, 3, 2)
    elan(32, 64)
    n.maxpool()
    p3 = elan(64, 128)
    n.maxpool()
    p4 = elan(128, 256)
    n.maxpool()
    elan(256, 512)
    n.comment("SPP")
    bypass = c(256, 1)
    n.route(-2)
    x1 = c(256, 1)
    n.maxpool(5, 1)
    n.route(x1)
    n.maxpool(9, 1)
    n.route(x1)
    n.maxpool(13, 1)
    n.route(-1, -3, -5, x1)
    c(256, 1)
    n.route(-1, bypass)
    s5 = c(256, 1)
    n.comment("head")
    c(128, 1)
    n.upsample(2)
    n.route(Abs(p4))
    c(128, 1)
    n.route(-1, -3)
    h4 = elan(64, 128)
    c(64, 1)
    n.upsample(2)
    n.route(Abs(p3))
    c(64, 1)
    n.route(-1, -3)
    h3 = elan(32, 64)
    c(128, 3, 2)
    n.route(-1, h4)
    o4 = elan(64, 128)
    c(256, 3, 2)
    n.route(-1, s5)
    o5 = elan(128, 256)
    n.comment("detection")
    for src, f, mask in ((h3, 128, "0,1,2"), (o4, 256, "3,4,5"), (o5, 512, "6,7,8")):
        n.route(Abs(src))
        c(f, 3)
        n.detection_conv("logistic")
        n.section("yolo", yolo_lines(mask, anchors, 9, V7_YOLO))
    return (net_head, dict(lr="0.00261", burn_in=1000, max_batches=2000200, steps="1600000,1800000",
                           momentum="0.937"), n)


FASTEST_ANCHORS = [(12, 18), (37, 49), (52, 132), (115, 73), (119, 199), (242, 238)]
FASTEST_YOLO = ["jitter=.1", "ignore_thresh = .5", "truth_thresh = 1", "random=0", "scale_x_y = 1.00",
                "iou_thresh=0.213", "cls_normalizer=1.0", "iou_normalizer=0.07", "iou_loss=ciou",
                "nms_kind=greedynms", "beta_nms=0.6"]


def yolo_fastest(size, xl):
    """Yolo-Fastest 1.1: inverted residual blocks (1x1 expand, 3x3 depthwise, 1x1 linear
    projection, dropout and shortcut), heads at strides 32 and 16 with 5x5 depthwise
    convolutions. Only leaky, linear, grouped convolution, dropout and shortcut: layers the
    2018 darknet builds as they are meant."""
    n = Net()
    w = 2 if xl else 1
    anchors = scale_anchors(FASTEST_ANCHORS, size / 320.0)

    def block(expand, out, stride=1, residual=True):
        src = n.count - 1
        n.conv(expand * w, 1)
        n.dwconv(expand * w, 3, stride)
        n.conv(out * w, 1, act="linear")
        if residual:
            n.dropout()
            n.shortcut(src)
        return n.count - 1

    n.conv(8 * w, 3, 2)
    block(8, 4, residual=False)
    block(8, 4)
    block(24, 8, 2, residual=False)
    for _ in range(2):
        block(32, 8)
    block(32, 8, 2, residual=False)
    for _ in range(2):
        block(48, 8)
    block(48, 16, 2, residual=False)
    for _ in range(4):
        block(96, 16)
    block(96, 24, residual=False)
    for _ in range(4):
        block(136, 24)
    # The expansion of the last down-sampling block is the stride-16 feature of the second head.
    lateral = n.count
    block(136, 48, 2, residual=False)
    for _ in range(5):
        block(224, 48)
    n.comment("detection")
    h = 96 * w
    first = n.conv(h, 1)
    n.dwconv(h, 5)
    n.conv(128 * w, 1, act="linear")
    n.dwconv(128 * w, 5)
    n.conv(128 * w, 1, act="linear")
    n.detection_conv()
    n.section("yolo", yolo_lines("3,4,5", anchors, 6, FASTEST_YOLO))
    n.route(first)
    n.upsample(2)
    n.route(-1, Abs(lateral))
    n.conv(h, 1)
    n.dwconv(h, 5)
    n.conv(h, 1, act="linear")
    n.dwconv(h, 5)
    n.detection_conv()
    n.section("yolo", yolo_lines("0,1,2", anchors, 6, FASTEST_YOLO))
    return (net_head, dict(lr="0.001", burn_in=4000, max_batches=500000, steps="400000,450000",
                           momentum="0.949"), n)


# --------------------------------------------------------------------------------------------
# NomuedDet: given whole, differs per folder only in width and height.

def nomued_det(mode, size):
    lines = ["[net]"]
    if mode == "train":
        lines += ["batch=$$batch$$", "subdivisions=$$subdivisions$$"]
    else:
        lines += ["batch=1", "subdivisions=1", "# batch=64", "# subdivisions=16"]
    lines += ["width=%d" % size, "height=%d" % size, "channels=3", "momentum=0.9", "decay=0.0005"] + AUGMENT
    lines += ["learning_rate=0.00261", "burn_in=1000", "max_batches = 500200", "policy=steps",
              "steps=400000,450000", "scales=.1,.1", ""]
    n = Net()
    n.conv(4, 3); n.maxpool()
    n.conv(8, 3); n.maxpool()
    n.conv(16, 3)
    n.conv(8, 1)
    n.conv(16, 3)
    n.detection_conv()
    n.section("yolo", yolo_lines("0,1,2", TINY_ANCHORS, 6, V4_TINY_YOLO))
    return lines + n.lines()


# --------------------------------------------------------------------------------------------

FOLDERS = [
    ("V2", 608, yolov2, False),
    ("V2-tiny", 416, yolov2_tiny, False),
    ("V3", 608, yolov3, False),
    ("V3-tiny", 416, yolov3_tiny, False),
    ("V4", 608, yolov4, False),
    ("V4-tiny", 416, yolov4_tiny, False),
    ("V4-tiny-64", 64, yolov4_tiny, False),
    ("V4-tiny-128", 128, yolov4_tiny, False),
    ("V4-tiny-256", 256, yolov4_tiny, False),
    ("V7", 640, yolov7, False),
    ("V7-tiny", 416, yolov7_tiny, False),
    ("V7-tiny-64", 64, yolov7_tiny, False),
    ("V7-tiny-128", 128, yolov7_tiny, False),
    ("V7-tiny-256", 256, yolov7_tiny, False),
    ("NomuedDet-52", 52, None, False),
    ("NomuedDet-104", 104, None, False),
    ("NomuedDet-208", 208, None, False),
    ("NomuedDet-416", 416, None, False),
    ("NomuedDet2-128", 128, protected_tiny, True),
    ("NomuedDet2-256", 256, protected_tiny, True),
    ("NomuedDet2-512", 512, protected_tiny, True),
    ("Fastest-1.1-320", 320, lambda s: yolo_fastest(s, False), False),
    ("Fastest-1.1-XL-320", 320, lambda s: yolo_fastest(s, True), False),
    ("Fastest-1.1-XL-640", 640, lambda s: yolo_fastest(s, True), False),
    ("KVTRDet-128", 128, protected_tiny, True),
    ("KVTRDet-256", 256, protected_tiny, True),
    ("KVTRDet-512", 512, protected_tiny, True),
]


def template_text(family, size, protected, mode):
    if family is None:
        lines = nomued_det(mode, size)
    else:
        head, schedule, layers = family(size)
        lines = head(mode, size, **schedule)
        if protected:
            lines += [MARKER, ""]
        lines += layers.lines()
        if protected:
            lines += [MARKER]
    while lines and lines[-1] == "":
        lines.pop()
    return "\n".join(lines) + "\n"


def main(argv):
    """Writes the templates under trainer/yolo_cfg (or the folder given), or with --check
    compares the committed templates with what would be written and lists the differences."""
    check = len(argv) > 1 and argv[1] == "--check"
    root = HERE if check or len(argv) < 2 else argv[1]
    stale = []
    for folder, size, family, protected in FOLDERS:
        d = os.path.join(root, folder)
        if not check:
            os.makedirs(d, exist_ok=True)
        for mode in ("train", "test"):
            text = template_text(family, size, protected, mode)
            path = os.path.join(d, "yolo-%s-template.cfg" % mode)
            if check:
                try:
                    with open(path, newline="") as f:
                        if f.read() == text:
                            continue
                except OSError:
                    pass
                stale.append(path)
            else:
                with open(path, "w", newline="\n") as f:
                    f.write(text)
    if check:
        known = {folder for folder, _, _, _ in FOLDERS}
        for entry in sorted(os.listdir(root)):
            if os.path.isdir(os.path.join(root, entry)) and entry not in known:
                stale.append(os.path.join(root, entry) + " (not written by this script)")
        for path in stale:
            print("differs from the generator: " + path)
        return 1 if stale else 0
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
