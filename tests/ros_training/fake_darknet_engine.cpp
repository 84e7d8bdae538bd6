// A stand-in darknet engine for the training executables' tests, selected
// through NOMU_DARKNET. FAKE_ENGINE_MODE picks its behaviour; it records its
// arguments, working folder and process ids into FAKE_ENGINE_RECORD.
// Progress goes through stdio without explicit flushes, as darknet's does, so
// lines arrive one by one only when the executable gives it a terminal.
// Weights are saved as darknet 2018 saves them: a 20-byte header (major 0,
// minor 2, revision 0, a 64-bit count of images seen) and the floats the
// description needs, through unchecked fwrite calls; "<base>.backup" and
// "<base>_N.weights" every 100 iterations, "<base>_final.weights" at the end.
// FAKE_ENGINE_IGNORE_XFSZ=1 makes it ignore SIGXFSZ, so that its writes beyond
// a file-size limit are cut silently; FAKE_ENGINE_RAISE_FSIZE=1 lifts the
// limit for its own writes (up to the hard limit).

#include "darknet_cfg.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string env(const char* name, const char* fallback = "")
{
    const char* v = std::getenv(name);
    return v ? v : fallback;
}

std::string backupDirOf(const std::string& dataFile)
{
    std::ifstream in(dataFile);
    std::string line;
    while (std::getline(in, line)) {
        std::string s;
        for (char c : line)
            if (c != ' ' && c != '\t' && c != '\r')
                s += c;
        if (s.rfind("backup=", 0) == 0)
            return s.substr(7);
    }
    return "data/backup/";
}

std::string baseOf(const std::string& cfg)
{
    std::string name = cfg.substr(cfg.rfind('/') == std::string::npos ? 0 : cfg.rfind('/') + 1);
    return name.substr(0, name.find('.'));
}

long long g_weightFloats = 0;

// Every write unchecked, as darknet's save_weights writes.
void save(const std::string& path, int iteration)
{
    std::fprintf(stderr, "Saving weights to %s\n", path.c_str());
    FILE* fp = std::fopen(path.c_str(), "wb");
    if (!fp) {
        std::fprintf(stderr, "Couldn't open file: %s\n", path.c_str());
        std::exit(0);
    }
    const int32_t version[3] = {0, 2, 0};
    const uint64_t seen = static_cast<uint64_t>(iteration) * 4;
    std::fwrite(version, sizeof(int32_t), 3, fp);
    std::fwrite(&seen, sizeof seen, 1, fp);
    std::vector<float> floats(static_cast<size_t>(g_weightFloats));
    for (size_t k = 0; k < floats.size(); ++k)
        floats[k] = static_cast<float>(iteration) + static_cast<float>(k % 1000) * 0.001f;
    std::fwrite(floats.data(), sizeof(float), floats.size(), fp);
    std::fclose(fp);
}

long long weightFloatsOf(const std::string& cfg)
{
    std::ifstream in(cfg);
    std::stringstream text;
    text << in.rdbuf();
    darknet_cfg::NetInfo net;
    std::string why;
    if (!darknet_cfg::analyse(text.str(), &net, &why, darknet_cfg::Bounds::Weights)) {
        std::fprintf(stderr, "fake engine: %s\n", why.c_str());
        std::exit(1);
    }
    return net.weight_floats;
}

void progress2018(int i)
{
    std::printf("Loaded: 0.000100 seconds\n");
    std::printf("%d: %f, %f avg, %f rate, %lf seconds, %d images\n", i, 10.0 / i, 12.0 / i, 0.001, 0.25, i * 4);
}

std::string g_termRecord;

void onTerm(int)
{
    // Records that the stop request reached the engine itself.
    const int fd = ::open(g_termRecord.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        (void)::write(fd, "term\n", 5);
        ::close(fd);
    }
    ::_exit(143);
}

void crash()
{
    std::fflush(stdout);
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = env("FAKE_ENGINE_MODE", "train");
    const int iterations = std::atoi(env("FAKE_ENGINE_ITERATIONS", "3").c_str());
    const std::string data = argc > 3 ? argv[3] : "";
    const std::string cfg = argc > 4 ? argv[4] : "";
    const std::string backup = backupDirOf(data);
    const std::string base = baseOf(cfg);
    if (env("FAKE_ENGINE_IGNORE_XFSZ") == "1")
        std::signal(SIGXFSZ, SIG_IGN);
    if (env("FAKE_ENGINE_RAISE_FSIZE") == "1") {
        rlimit limit{};
        if (::getrlimit(RLIMIT_FSIZE, &limit) == 0) {
            limit.rlim_cur = limit.rlim_max;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    }

    pid_t child = 0;
    if (mode == "forever") {
        child = ::fork();
        if (child == 0) {
            for (;;)
                ::pause();
        }
    }
    {
        std::ostringstream rec;
        for (int i = 1; i < argc; ++i)
            rec << "arg=" << argv[i] << "\n";
        char cwd[4096];
        rec << "cwd=" << (::getcwd(cwd, sizeof cwd) ? cwd : "") << "\n";
        rec << "pid=" << ::getpid() << "\n";
        if (child > 0)
            rec << "child=" << child << "\n";
        rec << "stdout_tty=" << ::isatty(1) << "\n";
        const std::string path = env("FAKE_ENGINE_RECORD");
        if (!path.empty()) {
            const std::string tmp = path + ".tmp";
            std::ofstream(tmp) << rec.str();
            std::rename(tmp.c_str(), path.c_str());
        }
    }

    std::printf("%s\n", base.c_str());
    if (!cfg.empty())
        g_weightFloats = weightFloatsOf(cfg);
    if (mode == "cant_open") {
        std::fprintf(stderr, "Couldn't open file: data/missing.txt\n");
        return 0;
    }
    if (mode == "nothing")
        return 0;
    if (mode == "status3")
        return 3;
    if (mode == "forever") {
        g_termRecord = env("FAKE_ENGINE_RECORD") + ".term";
        std::signal(SIGTERM, onTerm);
        for (int i = 1;; ++i) {
            progress2018(i);
            ::usleep(50 * 1000);
        }
    }
    if (mode == "crash_early") {
        progress2018(1);
        progress2018(2);
        crash();
    }
    if (mode == "newer") {
        for (int i = 1; i <= iterations; ++i) {
            std::printf("\n %d: %f, %f avg loss, %f rate, %lf seconds, %d images, %f hours left\n", i, 5.0, 6.0,
                        0.002, 0.5, i * 64, 1.5);
            if (i == 2)
                save(backup + "/" + base + "_last.weights", i);
        }
        save(backup + "/" + base + "_final.weights", iterations);
        return 0;
    }
    for (int i = 1; i <= iterations; ++i) {
        progress2018(i);
        if (i % 100 == 0) {
            save(backup + "/" + base + ".backup", i);
            save(backup + "/" + base + "_" + std::to_string(i) + ".weights", i);
        }
    }
    save(backup + "/" + base + "_final.weights", iterations);
    if (mode == "crash_after_final")
        crash();
    return 0;
}
