// Start-up benchmark: the time from process start to the movie's first external call, for vexa
// (its server, content upkeep and host page) against the bare host (the same web view and
// Ruffle, a page that only loads the movie), alternating runs in one session, with a content
// site that answers at once and with one that takes 1.5 s over the configuration download.
// Prints the medians and the ratios vexa/bare. vexa starts the web engine with settings of its
// own (quicker to start); the bare host run with the same settings is a second peer, whose
// ratio shows what vexa's own work adds. Run it under an X display (xvfb-run).
//   vexa_bench_startup <vexa> <bare host> <movie.swf> [runs]
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fakes/CFakeContentSite.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Starts argv with extra environment, waits for the line mark on its stdout or stderr, and
// returns the milliseconds that took (-1 on time-out); the process and its children are ended.
double TimeToMark(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                  const std::string& mark, int timeoutMs) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    for (const std::string& var : extraEnv) env.push_back(var);
    std::vector<char*> envp, args;
    for (std::string& var : env) envp.push_back(var.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (std::string& a : argCopy) args.push_back(a.data());
    args.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return -1;
    Clock::time_point start = Clock::now();
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        setpgid(0, 0);
        dup2(fds[1], 1);
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    std::string seen;
    double ms = -1;
    while (ms < 0) {
        int left = timeoutMs -
                   static_cast<int>(
                       std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                           .count());
        if (left <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, left) <= 0) break;
        char buffer[4096];
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        // Each chunk is stamped with its time since the start, to see where the time goes.
        double at = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        seen += "[+" + std::to_string(static_cast<int>(at)) + " ms] ";
        seen.append(buffer, static_cast<size_t>(n));
        if (seen.find(mark) != std::string::npos)
            ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    close(fds[0]);
    // VEXA_BENCH_VERBOSE=1 shows every run's output, to see where the time goes.
    if (ms < 0 || std::getenv("VEXA_BENCH_VERBOSE") != nullptr)
        std::fprintf(stderr, "--- output of %s:\n%s\n---\n", args[0], seen.c_str());
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    kill(-pid, SIGKILL);
    return ms;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty()) return 0;
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <vexa> <bare host> <movie.swf> [runs]\n", argv[0]);
        return 2;
    }
    int runs = argc > 4 ? std::atoi(argv[4]) : 5;
    std::string movie = ReadFile(argv[3]);
    if (movie.empty()) {
        std::fprintf(stderr, "no movie at %s\n", argv[3]);
        return 1;
    }
    vexa::testing::CFakeContentSite site;
    site.SetFile("/vexa.xml", "<?xml version=\"1.0\"?><config><DelMod></DelMod></config>");
    site.SetFile("/vexa.swf", movie);
    if (!site.Start()) return 1;
    char dir[] = "/tmp/vexa-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    std::vector<std::string> vexaEnv = {
        std::string("APPDATA=") + dir + "/appdata", std::string("XDG_STATE_HOME=") + dir + "/state",
        "VEXA_CONTENT_SITE=" + site.BaseUrl(), "G_MESSAGES_DEBUG=vexa"};
    struct Case {
        const char* name;
        int configDelayMs;
        std::vector<double> vexaMs, bareMs, sameMs;
    };
    Case cases[] = {{"instant", 0, {}, {}, {}}, {"slow-config", 1500, {}, {}, {}}};
    for (int i = 0; i < runs; ++i) {
        for (Case& c : cases) {
            site.SetDelay("/vexa.xml", c.configDelayMs);
            double v = TimeToMark({argv[1]}, vexaEnv, "movie: first call", 60000);
            double b =
                TimeToMark({argv[2], site.BaseUrl() + "vexa.swf"}, {}, "movie: first call", 60000);
            double s = TimeToMark({argv[2], "--same-engine", site.BaseUrl() + "vexa.swf"}, {},
                                  "movie: first call", 60000);
            std::printf("run %d %s: vexa %.0f ms, bare page %.0f ms, same engine %.0f ms\n", i + 1,
                        c.name, v, b, s);
            std::fflush(stdout);
            if (v < 0 || b < 0 || s < 0) {
                std::fprintf(stderr, "a run did not reach the movie's first call\n");
                return 1;
            }
            c.vexaMs.push_back(v);
            c.bareMs.push_back(b);
            c.sameMs.push_back(s);
        }
    }
    std::string cleanup = std::string("rm -rf '") + dir + "'";
    if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir);
    for (const Case& c : cases) {
        std::printf(
            "startup %s: vexa median %.0f ms, bare page median %.0f ms, same engine "
            "median %.0f ms (%d runs each)\n",
            c.name, Median(c.vexaMs), Median(c.bareMs), Median(c.sameMs), runs);
    }
    auto ratio = [](const std::vector<double>& ours, const std::vector<double>& peer) {
        double mp = Median(peer);
        return mp > 0 ? Median(ours) / mp : 0.0;
    };
    for (const Case& c : cases)
        std::printf("startup %s vexa/bare: %.2f\n", c.name, ratio(c.vexaMs, c.bareMs));
    for (const Case& c : cases)
        std::printf("startup %s vexa/bare-same-engine: %.2f\n", c.name, ratio(c.vexaMs, c.sameMs));
    return 0;
}
