#pragma once
// Model folders made at test time: the NomuedDet-52 test description, a
// weights file whose detections are known in advance, and a standard
// V4-tiny layout with random weights for timing.
//
// The NomuedDet-52 weights have every kernel 0 and batch normalisation as
// identity, so every layer before the last gives 0 and the network's output
// is the bias of its last convolution, the same in each of the 13 x 13 cells
// whatever the image: each anchor's (tx, ty, tw, th, objectness, class
// scores) are chosen here.

#include <QByteArray>
#include <QString>

#include <vector>

namespace fixture {

// One anchor's biases on the last convolution (pre-activation values).
struct AnchorBias {
    float tx = 0, ty = 0, tw = 0, th = 0;
    float obj = -8;
    std::vector<float> cls; // one per class; missing entries are -8
};

// The NomuedDet-52 test description with `classes` classes (filters
// 3 * classes + 15). With markers, the two "#**<>" lines of the protected
// families stand after [net] and after the last layer.
QString nomued_det52_cfg(int classes = 2, bool markers = false);

// Weights for nomued_det52_cfg(classes): header 0.2.5 with a 64-bit seen,
// then every convolution (biases, BN scale 1, mean 0, variance 1, kernels 0);
// the last convolution's biases come from the three anchors.
QByteArray nomued_det52_weights(int classes, const AnchorBias anchors[3]);

// Ready-made fixtures on 2 classes.
//  small_boxes: anchor 0 gives class 0 with score sigmoid(8)^2 = 0.99933 and a
//    box of exp(-3) x the anchor (10 x 14 on 52 x 52): 169 small, separate boxes.
//  big_box: the same with exp(+3): every box covers the whole image, NMS
//    leaves exactly one.
//  low_score: small boxes whose class-0 score is 0.1.
QByteArray small_boxes_weights();
QByteArray big_box_weights();
QByteArray low_score_weights();

// The protected form the trainer writes: the lines before the first "#**<>"
// line (each with "\n"), then "<-<+>->", then the cipher text of the lines
// after it (marker lines dropped), no newline at the end.
QString protected_form(const QString& text_with_markers);

// Writes obj.names (each name followed by "\n"), test.cfg and train.weights
// into dir (created). False on any write failure.
bool write_model_folder(const QString& dir, const QString& cfg, const QByteArray& weights,
                        const QStringList& names);

// A description whose counts overflow 64 bits: its second convolution has
// 2^21 filters of size 4096 on 2^19 channels, 2^64 kernel floats. Counted
// with wrapping arithmetic it needs 2^22 floats (16 MiB + 20 bytes of weights).
QString overflowing_cfg();

// A standard V4-tiny layout (21 convolutions, two [yolo] heads) at `size`.
QString v4_tiny_cfg(int classes, int size = 416);

// Random weights (deterministic for a seed) of exactly the size the loader
// expects for cfg; empty when the description is refused.
QByteArray random_weights(const QString& cfg, unsigned seed = 1);

// The centre of the small_boxes boxes in an image of w x h: cell (col, row)
// of the 13 x 13 lattice.
double small_box_centre_x(int col, int image_w);

} // namespace fixture
