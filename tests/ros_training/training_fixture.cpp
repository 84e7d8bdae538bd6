#include "training_fixture.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fixture {

QString trainerLabelLine(const Box& box, int width, int height)
{
    const int k = box.classIndex;
    const long id = k == 0 ? 16 : 128L * k + 323;
    const double f = k == 0 ? 1.5 : (k % 2 == 1 ? 1.8 : 2.3);
    const auto field = [f](int a, int b) {
        return QString::number(double(float(a) / float(b)) / f, 'g', 6) + " ";
    };
    return QString::number(id) + " " + field(box.cy, height) + field(box.cx, width) + field(box.h, height)
        + field(box.w, width) + "\n";
}

QStringList writeTrainingFolder(const QString& root, const std::vector<Image>& images,
                                const QStringList& classNames, const QString& trainCfg)
{
    QDir(root).mkdir("data");
    const QString data = root + "/data";
    QDir(data).mkdir("img");
    QDir(data).mkdir("backup");
    QStringList listed;
    int n = 0;
    for (const Image& im : images) {
        cv::Mat src(im.height, im.width, CV_8UC3, cv::Scalar(90, 90, 90));
        for (const Box& b : im.boxes)
            cv::rectangle(src, cv::Rect(b.cx - b.w / 2, b.cy - b.h / 2, b.w, b.h),
                          b.classIndex == 0 ? cv::Scalar(0, 0, 255) : cv::Scalar(255, 0, 0), cv::FILLED);
        cv::putText(src, std::to_string(n++), cv::Point(20, 40), cv::FONT_HERSHEY_SIMPLEX, 1, cv::Scalar(0, 0, 0));
        cv::Mat sized;
        cv::resize(src, sized, cv::Size(640, 640), 0, 0, cv::INTER_LINEAR);
        const QString uuid = QUuid::createUuid().toString();
        cv::imwrite((data + "/img/" + uuid + ".jpg").toStdString(), sized);
        QFile lab(data + "/img/" + uuid + ".txt");
        lab.open(QIODevice::WriteOnly | QIODevice::Text);
        for (const Box& b : im.boxes)
            lab.write(trainerLabelLine(b, im.width, im.height).toUtf8());
        lab.close();
        listed << "data/img/" + uuid + ".jpg";
    }
    const auto write = [&data](const QString& name, const QByteArray& content) {
        QFile f(data + "/" + name);
        f.open(QIODevice::WriteOnly | QIODevice::Text);
        f.write(content);
    };
    QByteArray list;
    for (const QString& p : listed)
        list += p.toUtf8() + "\n";
    write("train.txt", list);
    QByteArray names;
    for (const QString& c : classNames)
        names += c.toUtf8() + "\n";
    write("obj.names", names);
    const QByteArray count = QByteArray::number(classNames.size());
    write("obj.data", "classes = " + count + "\ntrain  = data/train.txt\nvalid  = data/train.txt\n"
                      "names = data/obj.names\nbackup = data/backup/");
    write("classes.data", count);
    write("version", "NomuedDet-52 : " + count + " class");
    write("seg_train.txt", "");
    write("classif_train.txt", "");
    write("train.cfg", trainCfg.toUtf8());
    write("test.cfg", trainCfg.toUtf8());
    return listed;
}

QString nomuedDetCfg(int size, int batch, int subdivisions, int maxBatches, int classes)
{
    const QString conv = "[convolutional]\nbatch_normalize=1\nfilters=%1\nsize=%2\nstride=1\npad=1\nactivation=leaky\n\n";
    return QString("[net]\nbatch=%1\nsubdivisions=%2\nwidth=%3\nheight=%3\nchannels=3\nmomentum=0.9\n"
                   "decay=0.0005\nangle=0\nsaturation = 1.5\nexposure = 1.5\nhue=.1\nlearning_rate=0.00261\n"
                   "burn_in=1000\nmax_batches = %4\npolicy=steps\nsteps=400000,450000\nscales=.1,.1\n\n")
               .arg(batch)
               .arg(subdivisions)
               .arg(size)
               .arg(maxBatches)
        + conv.arg(4).arg(3) + "[maxpool]\nsize=2\nstride=2\n\n" + conv.arg(8).arg(3)
        + "[maxpool]\nsize=2\nstride=2\n\n" + conv.arg(16).arg(3) + conv.arg(8).arg(1) + conv.arg(16).arg(3)
        + QString("[convolutional]\nsize=1\nstride=1\npad=1\nfilters=%1\nactivation=linear\n\n").arg(3 * classes + 15)
        + QString("[yolo]\nmask = 0,1,2\nanchors = 10,14,  23,27,  37,58,  81,82,  135,169,  344,319\n"
                  "classes=%1\nnum=6\njitter=.3\nscale_x_y = 1.05\ncls_normalizer=1.0\niou_normalizer=0.07\n"
                  "iou_loss=ciou\nignore_thresh = .7\ntruth_thresh = 1\nrandom=0\nresize=1.5\n"
                  "nms_kind=greedynms\nbeta_nms=0.6\n")
              .arg(classes);
}

QString groupedRouteCfg(int classes)
{
    return QString("[net]\nbatch=64\nsubdivisions=8\nwidth=416\nheight=416\nchannels=3\nmax_batches = 500200\n\n"
                   "[convolutional]\nbatch_normalize=1\nfilters=32\nsize=3\nstride=2\npad=1\nactivation=leaky\n\n"
                   "[convolutional]\nbatch_normalize=1\nfilters=64\nsize=3\nstride=2\npad=1\nactivation=leaky\n\n"
                   "[route]\nlayers=-1\ngroups=2\ngroup_id=1\n\n"
                   "[convolutional]\nsize=1\nstride=1\npad=1\nfilters=%1\nactivation=linear\n\n"
                   "[yolo]\nmask = 0,1,2\nanchors = 10,14,  23,27,  37,58,  81,82,  135,169,  344,319\n"
                   "classes=%2\nnum=6\n")
        .arg(3 * classes + 15)
        .arg(classes);
}

} // namespace fixture
