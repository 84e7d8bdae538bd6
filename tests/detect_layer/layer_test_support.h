#pragma once
// Model folders and registry handling shared by the layer's tests.

#include "dialog_list_configs.h"
#include "fixture_model.h"

#include <QTemporaryDir>

#include <opencv2/core.hpp>

namespace layertest {

// Deletes every record of the registry, so that each test starts empty.
inline void clear_registry()
{
    qDeleteAll(DialogListConfigs::map_det_cfgs);
    DialogListConfigs::map_det_cfgs.clear();
}

inline QString make_folder(const QTemporaryDir& root, const QString& name, const QString& cfg,
                           const QByteArray& weights, const QStringList& names = {"cat", "dog"})
{
    const QString dir = root.path() + "/" + name;
    if (!fixture::write_model_folder(dir, cfg, weights, names))
        return QString();
    return dir;
}

inline cv::Mat black(int w = 608, int h = 342) { return cv::Mat(h, w, CV_8UC3, cv::Scalar(0, 0, 0)); }

// A record loaded from dir under name, with drawing switched off.
inline DetConfig* load(DialogListConfigs& list, const QString& name, const QString& dir,
                       const QString& backend = "CPU")
{
    if (!list.addConfigPath(name, dir, backend))
        return nullptr;
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value(name, nullptr);
    if (cfg) {
        cfg->result_drawing = false;
        cfg->draw_roi = false;
    }
    return cfg;
}

} // namespace layertest
