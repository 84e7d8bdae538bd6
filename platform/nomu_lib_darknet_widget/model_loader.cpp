#include "model_loader.h"

#include "darknet_cfg.h"
#include "model_folder.h"

#include <exception>

bool load_model(const QString& dir, const QString& backend, LoadedModel* out, QString* error)
{
    try {
        // The description is checked, and the weights file's size against
        // it, before the weights are read.
        darknet_cfg::NetInfo info;
        std::string why;
        auto weights_size_ok = [&](const std::string& cfg_text, qint64 bytes, QString* reason) {
            if (!darknet_cfg::analyse(cfg_text, &info, &why)) {
                *reason = dir + "/test.cfg: " + QString::fromStdString(why);
                return false;
            }
            if (!darknet_cfg::check_weights_file_size(info, bytes, &why)) {
                *reason = dir + ": " + QString::fromStdString(why);
                return false;
            }
            return true;
        };
        ModelFiles files;
        if (!read_model_folder(dir, &files, error, weights_size_ok))
            return false;
        if (files.class_names.size() < static_cast<size_t>(info.classes)) {
            *error = QStringLiteral("%1/obj.names names %2 classes, the description has %3")
                         .arg(dir)
                         .arg(files.class_names.size())
                         .arg(info.classes);
            return false;
        }
        if (!darknet_cfg::check_weights_size(info, files.weights, &why)) {
            *error = dir + ": " + QString::fromStdString(why);
            return false;
        }
        const std::string prepared = darknet_cfg::prepare_for_opencv(files.cfg_text);
        files.cfg_text.clear();

        LoadedModel model;
        int classes = 0;
        if (backend == QLatin1String("CUDA")) {
            model.gpu.reset(new Detector);
            if (!model.gpu->load(prepared, files.weights, &why)) {
                *error = dir + ": " + QString::fromStdString(why);
                return false;
            }
            classes = model.gpu->classes();
        } else {
            model.cpu.reset(new DetectorCPU);
            if (!model.cpu->load(prepared, files.weights, &why, backend == QLatin1String("Vulkan"))) {
                *error = dir + ": " + QString::fromStdString(why);
                return false;
            }
            classes = model.cpu->classes();
        }
        if (classes != info.classes) {
            *error = QStringLiteral("%1: the network gives %2 classes, the description says %3")
                         .arg(dir)
                         .arg(classes)
                         .arg(info.classes);
            return false;
        }
        // Names beyond the network's classes can never be detected.
        files.class_names.resize(static_cast<size_t>(classes));
        model.class_names = std::move(files.class_names);
        model.classes = classes;
        *out = std::move(model);
        return true;
    } catch (const std::exception& e) {
        *error = dir + ": " + QString::fromLocal8Bit(e.what());
    } catch (...) {
        *error = dir + ": unknown failure while loading";
    }
    return false;
}
