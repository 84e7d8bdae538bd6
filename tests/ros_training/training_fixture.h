#pragma once
// A training folder laid out as the trainer's generation writes it: "data" with
// img/<UUID>.jpg (640 x 640) and img/<UUID>.txt in the trainer's label-line
// encoding, train.txt, obj.names, obj.data, classes.data, version, backup/.

#include <QString>
#include <QStringList>
#include <vector>

namespace fixture {

struct Box {
    int classIndex;
    int cx, cy, w, h; // pixels of the source image
};

struct Image {
    int width = 640, height = 480; // size of the source image the labels refer to
    std::vector<Box> boxes;
};

// The trainer's label line of a box: "id cy cx h w " and "\n".
QString trainerLabelLine(const Box& box, int width, int height);

// Writes the folder under root (root must exist); returns the image paths as
// listed in train.txt ("data/img/<UUID>.jpg").
QStringList writeTrainingFolder(const QString& root, const std::vector<Image>& images,
                                const QStringList& classNames, const QString& trainCfg);

// A network description of the smallest family of the trainer (6 conv, 2
// maxpool, 1 [yolo]) at the given input size and batch settings.
QString nomuedDetCfg(int size, int batch, int subdivisions, int maxBatches, int classes);

// The same with a [route] layer that splits channels (groups=2), as the
// V4-tiny layout does.
QString groupedRouteCfg(int classes);

} // namespace fixture
