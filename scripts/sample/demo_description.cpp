// Writes the network descriptions of a generated training folder with the
// trainer's own description writer (the one the model box uses), then sets
// [net] values that the templates fix, such as the learning schedule:
//
//   demo_description <data folder> <model> <batch> <subdivisions> [key=value ...]
//
// The class count comes from "classes.data" of the folder. "train.cfg",
// "test.cfg" and "version" are replaced; each key=value is applied to the
// [net] section of both descriptions, so they keep the same schedule.
// Protected models are refused when values are to be set: their body is
// enciphered.
#include "input_limits.h"
#include "network_check.h"
#include "network_description.h"
#include "resources.h"
#include "text_util.h"
#include "train_command.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: demo_description <data folder> <model> <batch> <subdivisions> [key=value ...]\n");
    return 2;
}

bool positive(const QString& text, int* value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok && *value > 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    nomu_pelto_varnex_init_resources(); // the templates are resources of the trainer's library
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 4)
        return usage();
    const QString dataDir = args[0];
    const QString model = args[1];
    int batch = 0, subdivisions = 0;
    if (!positive(args[2], &batch) || !positive(args[3], &subdivisions))
        return usage();
    std::vector<std::pair<std::string, std::string>> settings;
    for (const QString& a : args.mid(4)) {
        const int eq = a.indexOf('=');
        if (eq <= 0 || a.contains('\n'))
            return usage();
        settings.emplace_back(a.left(eq).toStdString(), a.mid(eq + 1).toStdString());
    }
    if (!settings.empty() && is_protected_model(model)) {
        std::fprintf(stderr, "demo_description: %s is written enciphered; its [net] values cannot be set\n",
                     model.toLocal8Bit().constData());
        return 2;
    }

    const int classes = read_class_count(dataDir + "/classes.data");
    if (classes <= 0) {
        std::fprintf(stderr, "demo_description: %s/classes.data holds no class count\n",
                     dataDir.toLocal8Bit().constData());
        return 1;
    }
    if (!write_network_description(model, classes, batch, subdivisions, dataDir))
        return 1; // the writer said why

    for (const char* name : {"/train.cfg", "/test.cfg"}) {
        const std::string path = (dataDir + name).toStdString();
        std::string text, why;
        if (nomu_ros::readInputFile(path, input_limits::kTrainingDescriptionBytes, text, why) != nomu_ros::InputStatus::Ok) {
            std::fprintf(stderr, "demo_description: cannot read %s\n", path.c_str());
            return 1;
        }
        for (const auto& [key, value] : settings)
            text = nomu_ros::withNetSetting(text, key, value);
        if (!nomu_ros::writeFileAtomically(path, text)) {
            std::fprintf(stderr, "demo_description: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
