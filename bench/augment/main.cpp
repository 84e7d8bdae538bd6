// Samples per second and peak memory of the augmentation generator, for a
// 640 x 480 and a 1920 x 1080 image, at the form defaults (10 samples) and
// with rotation step 10 (74 samples), both as get_auto_gen collects them and
// as the streaming form hands them out one at a time.
//
// Each case runs in a fresh child process, so its peak resident size
// (getrusage ru_maxrss) is its own. Run without arguments: bench_augment

#include "dialog_dataset_gen.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>

#include <opencv2/core.hpp>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double peak_mb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0; // kilobytes on Linux
}

Frame sample_frame(int cols, int rows)
{
    Frame frame;
    for (int i = 0; i < 5; ++i) {
        Object o;
        o.label = "obj";
        o.bbox = cv::Rect(cols / 10 + i * cols / 6, rows / 4, cols / 8, rows / 5);
        o.center = cv::Point(o.bbox.x + o.bbox.width / 2, o.bbox.y + o.bbox.height / 2);
        if (i % 2 == 1)
            o.landmark = {{o.bbox.x, o.bbox.y}, {o.bbox.x + o.bbox.width, o.bbox.y}, o.center};
        frame.push_back(o);
    }
    return frame;
}

// One case, in this process: prints its line.
int run_case(int cols, int rows, int rotation_step, bool stream)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    int argc = 1;
    char name[] = "bench_augment";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    DialogDatasetGen dialog;
    QJsonObject settings = dialog.get_setting();
    settings.insert("rot_step", rotation_step);
    dialog.restore_setting(settings);

    cv::Mat image(rows, cols, CV_8UC3);
    cv::randu(image, 0, 256);
    const Frame frame = sample_frame(cols, rows);
    const double base = peak_mb();

    long long samples = 0;
    int runs = 0;
    QElapsedTimer clock;
    clock.start();
    do {
        if (stream) {
            samples += dialog.for_each_auto_gen(image, frame, [](AugmentedSample s) { return !s.first.empty(); });
        } else {
            samples += (long long)dialog.get_auto_gen(image, frame).size();
        }
        ++runs;
    } while (clock.elapsed() < 2000 || runs < 2);
    const double seconds = clock.nsecsElapsed() / 1e9;

    std::printf("%4dx%-4d  rotation step %-3d  %-7s  %3lld samples/image  %8.1f samples/s  peak %7.1f MB (%.1f MB before)\n",
                cols, rows, rotation_step, stream ? "stream" : "collect", samples / runs, samples / seconds, peak_mb(), base);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--case") == 0) {
        int cols = 0, rows = 0;
        if (std::sscanf(argv[2], "%dx%d", &cols, &rows) != 2)
            return 2;
        return run_case(cols, rows, std::atoi(argv[3]), std::strcmp(argv[4], "stream") == 0);
    }

    struct Case {
        const char* size;
        const char* step;
        const char* mode;
    };
    const std::vector<Case> cases = {
        {"640x480", "90", "collect"},   {"640x480", "10", "collect"},   {"1920x1080", "90", "collect"},
        {"1920x1080", "10", "collect"}, {"640x480", "90", "stream"},    {"640x480", "10", "stream"},
        {"1920x1080", "90", "stream"},  {"1920x1080", "10", "stream"},
    };
    std::printf("augmentation: defaults are rotation -180..180 step 90 and contrast 0.2..1.2 step 1.0\n");
    std::fflush(stdout);
    int failures = 0;
    for (const Case& c : cases) {
        const pid_t pid = fork();
        if (pid == 0) {
            execl("/proc/self/exe", argv[0], "--case", c.size, c.step, c.mode, static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "case %s step %s %s failed\n", c.size, c.step, c.mode);
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
