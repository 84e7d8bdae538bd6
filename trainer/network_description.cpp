#include "network_description.h"

#include "atomic_file.h"
#include "bounded_input.h"
#include "input_limits.h"
#include "simplecrypt.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

const char kYoloCfgResourceRoot[] = ":/nomu_pelto_varnex/yolo_cfg/";
const char kCfgMarkerLine[] = "#**<>";

namespace {

void warn(const QString& line)
{
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
}

bool write_whole(const QString& path, const QString& text)
{
    QString why;
    if (write_file_atomically(path, text.toUtf8(), kOutputFile, &why))
        return true;
    warn(QString("generate_cfg_file: cannot write %1: %2").arg(path, why));
    return false;
}

} // namespace

QString read_text_file(const QString& path)
{
    if (path.startsWith(QLatin1Char(':'))) { // an embedded template
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(f.readAll());
    }
    QByteArray bytes;
    QString why;
    switch (bounded_input::read_regular_file(path, input_limits::kTrainingFolderTextBytes, &bytes, &why)) {
    case bounded_input::ReadStatus::Ok:
        return QString::fromUtf8(bytes);
    case bounded_input::ReadStatus::Missing:
        return QString();
    case bounded_input::ReadStatus::Refused:
    case bounded_input::ReadStatus::TooLarge:
        break;
    }
    warn("[Varnex] : " + why);
    return QString();
}

QString yolo_template_path(const QString& model, bool train)
{
    return QString(kYoloCfgResourceRoot) + model
        + (train ? "/yolo-train-template.cfg" : "/yolo-test-template.cfg");
}

std::optional<int> cfg_filter_count(const QString& model, int classes)
{
    static const char* const yoloFamilies[] = {"V7", "V3", "V4", "NomuedDet", "KVTRDet", "Fastest"};
    for (const char* family : yoloFamilies)
        if (model.contains(QLatin1String(family)))
            return 3 * classes + 15;
    if (model.contains(QLatin1String("V2")))
        return 5 * classes + 25;
    return std::nullopt;
}

bool is_protected_model(const QString& model)
{
    return model.contains(QLatin1String("NomuedDet2")) || model.contains(QLatin1String("KVTRDet"));
}

QString fill_test_template(const QString& text, int classes, int filters)
{
    QString out = text;
    out.replace(QLatin1String("@@@@"), QString::number(classes));
    out.replace(QLatin1String("$$$$"), QString::number(filters));
    return out;
}

QString fill_train_template(const QString& text, int classes, int filters, int batch, int subdivisions)
{
    QString out = fill_test_template(text, classes, filters);
    out.replace(QLatin1String("$$batch$$"), QString::number(batch));
    out.replace(QLatin1String("$$subdivisions$$"), QString::number(subdivisions));
    return out;
}

QString protect_cfg_text(const QString& text)
{
    QString head;
    QString body;
    bool inBody = false;
    const QStringList parts = text.split('\n', Qt::KeepEmptyParts);
    for (const QString& part : parts) {
        if (part.contains(QLatin1String(kCfgMarkerLine))) {
            inBody = true;
            continue;
        }
        (inBody ? body : head) += part + '\n';
    }
    return head + kProtectedSeparator + SimpleCrypt(kNomuCryptKey).encryptToString(body);
}

QString reveal_cfg_text(const QString& text)
{
    const int at = text.indexOf(QLatin1String(kProtectedSeparator));
    if (at < 0)
        return text;
    const QString cipher = text.mid(at + int(sizeof(kProtectedSeparator)) - 1);
    return text.left(at) + '\n' + SimpleCrypt(kNomuCryptKey).decryptToString(cipher);
}

QString cfg_version_text(const QString& model, int classes)
{
    return model + " : " + QString::number(classes) + " class";
}

BatchSettings model_batch_settings(const QString& model, bool gpuOk)
{
    if (!gpuOk)
        return {4, 4};
    if (model.contains(QLatin1String("tiny")) || model.startsWith(QLatin1String("NomuedDet"))
        || model.startsWith(QLatin1String("KVTRDet")) || model.startsWith(QLatin1String("Fastest")))
        return {64, 8};
    return {4, 4};
}

bool write_network_description(const QString& model, int classes, int batch, int subdivisions,
                               const QString& dataDir)
{
    const QString trainPath = yolo_template_path(model, true);
    const QString testPath = yolo_template_path(model, false);
    const QString trainTemplate = read_text_file(trainPath);
    const QString testTemplate = read_text_file(testPath);
    if (trainTemplate.isEmpty() || testTemplate.isEmpty()) {
        warn(QString("generate_cfg_file: no network template for model \"%1\" (%2); "
                     "train.cfg, test.cfg and version left as they are")
                 .arg(model, trainTemplate.isEmpty() ? trainPath : testPath));
        return false;
    }
    const std::optional<int> filters = cfg_filter_count(model, classes);
    if (!filters) {
        warn(QString("generate_cfg_file: model \"%1\" names no known detection layer family; "
                     "train.cfg, test.cfg and version left as they are")
                 .arg(model));
        return false;
    }
    if (!QFileInfo(dataDir).isDir()) {
        warn(QString("generate_cfg_file: %1 is not a folder; train.cfg, test.cfg and version not written")
                 .arg(dataDir));
        return false;
    }

    QString train = fill_train_template(trainTemplate, classes, *filters, batch, subdivisions);
    QString test = fill_test_template(testTemplate, classes, *filters);
    if (is_protected_model(model)) {
        train = protect_cfg_text(train);
        test = protect_cfg_text(test);
    }
    // All three are attempted, so one that fails does not hold back the others.
    bool ok = write_whole(dataDir + "/train.cfg", train);
    ok = write_whole(dataDir + "/test.cfg", test) && ok;
    ok = write_whole(dataDir + "/version", cfg_version_text(model, classes)) && ok;
    return ok;
}
