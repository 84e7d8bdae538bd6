// Drives the real sarvik_server as a client would (command file written by
// rename, wait for the run marker) with 20 "test" commands on a 1920 x 1080
// image and a V4-tiny layout model, and prints the median time from command
// to marker. In the same run it times, in-process on the same model and
// image, the detection alone and detection plus result-image write.
// Uses the exchange files under /tmp (saved and restored); do not run it
// beside a working server.
#include "det_config.h"
#include "dialog_list_configs.h"
#include "fixture_model.h"
#include "test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Writes the command by rename and waits for the marker; milliseconds, or -1.
double command(const QByteArray& bytes)
{
    QFile::remove("/tmp/sarvik.run");
    const QString staging = "/tmp/.sarvik_bench.cmd";
    if (!testsupport::writeFile(staging, bytes))
        return -1;
    QElapsedTimer clock;
    clock.start();
    if (std::rename(qPrintable(staging), "/tmp/sarvik_test.cmd") != 0)
        return -1;
    while (!QFile::exists("/tmp/sarvik.run")) {
        if (clock.elapsed() > 30000)
            return -1;
        QThread::usleep(200);
    }
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 20;
    testsupport::ExchangeFileGuard guard(
        {"/tmp/sarvik_test.cmd", "/tmp/sarvik.run", "/tmp/sarvik.log", "/tmp/sarvik_result.png"});

    QTemporaryDir root;
    const QString dir = root.path() + "/v4tiny";
    const QString cfg_text = fixture::v4_tiny_cfg(3, 416);
    if (!fixture::write_model_folder(dir, cfg_text, fixture::random_weights(cfg_text, 7), {"a", "b", "c"})) {
        std::fprintf(stderr, "bench_server: cannot write the model folder\n");
        return 1;
    }
    const QString image = root.path() + "/frame.png";
    cv::Mat big(1080, 1920, CV_8UC3);
    cv::RNG rng(3);
    rng.fill(big, cv::RNG::UNIFORM, 0, 255);
    cv::GaussianBlur(big, big, cv::Size(0, 0), 8);
    cv::imwrite(image.toStdString(), big);

    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start(SARVIK_SERVER_BIN, QStringList());
    if (!server.waitForStarted(10000)) {
        std::fprintf(stderr, "bench_server: the server does not start\n");
        return 1;
    }
    QThread::msleep(800);
    if (command("update," + dir.toUtf8()) < 0 || !testsupport::readFile("/tmp/sarvik.log").contains("\"load_model\":true")) {
        std::fprintf(stderr, "bench_server: the update failed\n");
        server.kill();
        return 1;
    }

    std::vector<double> to_marker;
    command("test," + image.toUtf8()); // warm-up
    for (int i = 0; i < runs; ++i) {
        const double ms = command("test," + image.toUtf8());
        if (ms < 0 || !testsupport::readFile("/tmp/sarvik.log").contains("test_end")) {
            std::fprintf(stderr, "bench_server: a test command failed\n");
            server.kill();
            return 1;
        }
        to_marker.push_back(ms);
        // Commands reach the server at any point of its 500 ms poll, as a real client's would.
        QThread::msleep(static_cast<unsigned long>(37 * (i % 13)));
    }
    command("exit");
    server.waitForFinished(10000);

    // The same work in this process: read, scale, detect, and write the image.
    DialogListConfigs list(nullptr);
    if (!list.addConfigPath("test", dir, "CPU"))
        return 1;
    DetConfig* cfg = DialogListConfigs::map_det_cfgs.value("test");
    std::vector<double> detect_only, detect_write;
    const QString out = root.path() + "/result.png";
    for (int i = -2; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        cv::Mat img = cv::imread(image.toStdString(), cv::IMREAD_COLOR);
        const double s = 608.0 / std::max(img.cols, img.rows);
        cv::resize(img, img, cv::Size(int(img.cols * s), int(img.rows * s)), 0, 0, cv::INTER_LINEAR);
        QElapsedTimer detect;
        detect.start();
        cfg->infer(img);
        const double d = detect.nsecsElapsed() / 1e6;
        cv::imwrite(out.toStdString(), img);
        const double all = clock.nsecsElapsed() / 1e6;
        if (i >= 0) {
            detect_only.push_back(d);
            detect_write.push_back(all);
        }
    }
    const double m = median(to_marker), d = median(detect_only), dw = median(detect_write);
    const double goal = 500 + 1.3 * dw;
    std::printf("bench_server: %d test commands, 1920 x 1080 image, V4-tiny layout at 416\n", runs);
    std::printf("  command to marker, median            %8.1f ms (min %.1f, max %.1f)\n", m,
                *std::min_element(to_marker.begin(), to_marker.end()),
                *std::max_element(to_marker.begin(), to_marker.end()));
    std::printf("  detection alone (infer), median      %8.1f ms\n", d);
    std::printf("  read + scale + detect + write, median%8.1f ms\n", dw);
    std::printf("  goal: median < 500 + 1.3 x %.1f = %.1f ms: %s\n", dw, goal, m < goal ? "met" : "NOT met");
    return 0;
}
