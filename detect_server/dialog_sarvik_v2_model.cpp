// Model update, test detection and the result log of the settings dialog.
#include "dialog_sarvik_v2.h"

#include "bounded_image.h"
#include "det_config.h"
#include "dialog_list_configs.h"
#include "exchange_check.h"
#include "exchange_paths.h"
#include "global_nomu_lib_yolo.h"
#include "image_file.h"
#include "log_writer.h"
#include "result_json.h"
#include "scale_rule.h"

#include <QDateTime>
#include <QFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <exception>

namespace {

const QString kTestConfig = QStringLiteral("test");

void note(const char* what, const char* why)
{
    std::fprintf(stderr, "%s: %s\n", what, why);
    std::fflush(stderr);
}

void note_unplaced(QStringList* unplaced, const char* path)
{
    if (!unplaced->contains(QLatin1String(path)))
        unplaced->append(QLatin1String(path));
}

} // namespace

void DialogSarvik_v2::show_log(QJsonObject log)
{
    const QByteArray text = log_line_text(log, QDateTime::currentDateTime());
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    QString why;
    if (!write_file_atomically(sarvik_paths::kLogFile, text + "\n", kExchangeFile, &why)) {
        // No line is better than an earlier one, which a client would take
        // for this command's answer. Only then is the earlier line removed:
        // otherwise the log keeps the latest line, also after a command that
        // writes none.
        note("show_log", qPrintable("cannot write /tmp/sarvik.log: " + why));
        exchange_check::remove_exchange_file(sarvik_paths::kLogFile, "show_log");
        note_unplaced(&unplaced_files, sarvik_paths::kLogFile);
    }
}

void DialogSarvik_v2::update_model(QString dir)
{
    QJsonObject log;
    log.insert("state", "update_start");
    show_log(log);

    const QString weights = dir + "/train.weights";
    if (!QFile::exists(weights)) {
        log.insert("state", "update_error");
        log.insert("msg", "not found : " + weights);
        show_log(log);
        return;
    }

    DialogListConfigs* list = nomu_lib_darknet_widget::dlg_detect_lst_config;
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value(kTestConfig, nullptr);
    if (cfg && cfg->loaded) {
        // The dialog's slot runs inside the emission and takes the dialog's
        // mutex: configuration first, dialog second, on this thread only.
        cfg->mutex.lock();
        emit list->config_removed(kTestConfig);
        cfg->free_detectors();
        cfg->loaded = false;
        cfg->mutex.unlock();
    }

    const QString backend = GlobalNomuLibYolo::GlobalNomuLibYoloObject->is_gpu_ok() ? QStringLiteral("CUDA")
                                                                                    : QStringLiteral("CPU");
    bool ok = false;
    try {
        ok = list->addConfigPath(kTestConfig, dir, backend);
    } catch (const std::exception& e) {
        note("update_model", e.what());
    } catch (...) {
        note("update_model", "unknown failure");
    }
    log.insert("state", "update_end");
    log.insert("load_model", ok);
    show_log(log);
}

void DialogSarvik_v2::test_model(QString image)
{
    QJsonObject log;
    log.insert("state", "test_start");
    show_log(log);
    auto fail = [&](const char* why) {
        note("test_model", why);
        log.insert("state", "test_error");
        show_log(log);
    };

    if (!QFile::exists(image))
        return fail("the image file does not exist");
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value(kTestConfig, nullptr);
    if (!cfg || !cfg->loaded)
        return fail("no model is loaded");
    set_up_parameter(cfg);

    try {
        // Only a regular file within the image limits is decoded.
        QString why;
        cv::Mat img = bounded_image::read_color_image(image, &why);
        if (img.empty())
            return fail(why.toLocal8Bit().constData());
        const cv::Size size = scaled_to_608(img.cols, img.rows);
        if (size.width <= 0 || size.height <= 0)
            return fail("the image is too narrow to scale to 608 pixels");
        cv::resize(img, img, size, 0, 0, cv::INTER_LINEAR);

        DetectionReport report;
        report.boxes = cfg->infer(img);
        report.im_w = img.cols;
        report.im_h = img.rows;
        report.class_names = cfg->class_names;
        report.obj_counts = cfg->obj_counts;
        report.track_counters = cfg->track_counters;
        report.tracking = cfg->enable_tracking;
        report.count_text = cfg->count_text;
        log.insert("result", build_result(report));

        // The earlier image goes first: a failed write must not leave it
        // behind this test's "test_end".
        exchange_check::remove_exchange_file(sarvik_paths::kResultImage, "test_model");
        if (!write_image_file(sarvik_paths::kResultImage, img, kExchangeFile, &why)) {
            note("test_model", qPrintable("cannot write /tmp/sarvik_result.png: " + why));
            note_unplaced(&unplaced_files, sarvik_paths::kResultImage);
        }
    } catch (const std::exception& e) {
        return fail(e.what());
    } catch (...) {
        return fail("unknown failure");
    }
    log.insert("state", "test_end");
    show_log(log);
}
