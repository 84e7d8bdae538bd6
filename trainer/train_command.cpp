#include "train_command.h"

#include "network_description.h"
#include "simplecrypt.h"

#include <QDir>

StartWeights start_weights_for(const QString& m)
{
    if (m.contains("V3"))
        return {"Train with model V3 : ", "d53.conv.74"};
    if (m.contains("V2"))
        return {"Train with model V2 : ", "d19_448.conv.23"};
    if (m.contains("V4-tiny") || m.contains("NomuedDet"))
        return {"Train with model V4-tiny : ", "yolov4-tiny.conv.29"};
    if (m.contains("Fastest"))
        return {"Train with model Fastest : ", "yolo-fastest.conv.109"};
    if (m.contains("V4"))
        return {"Train with model V4 : ", "yolov4.conv.137"};
    if (m.contains("V7-tiny"))
        return {"Train with model V7-tiny : ", "yolov7-tiny.conv.87"};
    if (m.contains("V7"))
        return {"Train with model V7 : ", "yolov7.conv.132"};
    return {"Train with model NULL : ", "d53.conv.74"};
}

QString start_weights_folder()
{
    return QDir::homePath() + "/.nomu_core_install/share/d/";
}

QString data_folder_of(const QString& training_folder)
{
    return training_folder + (training_folder.endsWith('/') ? "" : "/") + "data";
}

int read_class_count(const QString& path)
{
    const QString text = read_text_file(path);
    if (text.isEmpty())
        return -1;
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok ? n : 0;
}

QString read_model_text(const QString& training_folder)
{
    const QString text = read_text_file(data_folder_of(training_folder) + "/version");
    return text.isEmpty() ? QString("V3") : text;
}

bool is_protected_description(const QString& text)
{
    return text.contains(kProtectedSeparator);
}

QString deciphered_description(const QString& text)
{
    return reveal_cfg_text(text);
}

QString train_executable(bool gpu)
{
    return gpu ? "rosrun nomu_lib_yolo darknet_" : "rosrun nomu_lib_yolo darknet_cpu_";
}

QString train_command(const QString& executable, const QString& description, const QString& weights)
{
    QString command = executable + " " + "detector " + "train " + "data/obj.data " + description + " ";
    if (!weights.isEmpty())
        command += "\"" + weights + "\" ";
    return command + "  -dont_show ";
}

QStringList train_command_argv(const QString& executable, const QString& description, const QString& weights)
{
    QStringList argv = executable.split(' ', Qt::SkipEmptyParts);
    argv << "detector" << "train" << "data/obj.data" << description;
    if (!weights.isEmpty())
        argv << weights;
    argv << "-dont_show";
    return argv;
}
