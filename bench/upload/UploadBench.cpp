// Uploads a 5 MB recording to a loopback sink with the host's multipart upload and with
// `curl -F`, alternating, and prints the median times and their ratio.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "net/Request.h"
#include "tests/fakes/CUploadSinkFake.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Ms(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    constexpr std::size_t kSize = 5 * 1024 * 1024;
    constexpr int kRounds = 7;

    fs::path dir = fs::temp_directory_path() / ("vexa-upload-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::path file = dir / "test.mp3";
    {
        std::mt19937 random(42);
        std::string bytes(kSize, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        std::ofstream(file, std::ios::binary) << bytes;
    }

    vexa::testing::CUploadSinkFake sink;
    ::setenv("VEXA_UPLOAD_HOST", sink.HostPort().c_str(), 1);
    for (const char* proxy : {"http_proxy", "all_proxy", "ALL_PROXY"}) ::unsetenv(proxy);
    // Both sides speak the same exchange: no 100-continue round trip for curl either.
    std::string curl =
        "curl -s -o /dev/null -H 'Expect:' -w '%{time_total}' -F uid=7 -F tid=12 -F 'txtfile=@" +
        file.string() + "' http://" + sink.HostPort() + "/Upfile.ashx";

    std::vector<double> ours, peerWall, peerSelf;
    int failures = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto start = Clock::now();
        vexa::g_request.SetServer("/Upfile.ashx");
        vexa::g_request.Reset();
        vexa::g_request.AddField("uid", "7");
        vexa::g_request.AddField("tid", "12");
        vexa::g_request.AddFile(file.string(), "txtfile");
        if (!vexa::g_request.Send()) ++failures;
        ours.push_back(Ms(start));

        start = Clock::now();
        std::FILE* pipe = ::popen(curl.c_str(), "r");
        char out[64] = "";
        if (pipe == nullptr || std::fgets(out, sizeof out, pipe) == nullptr) ++failures;
        if (pipe != nullptr && ::pclose(pipe) != 0) ++failures;
        peerWall.push_back(Ms(start));
        peerSelf.push_back(std::atof(out) * 1000.0);
    }
    sink.WaitForRequests(2 * kRounds, 10000);
    for (const auto& r : sink.Requests()) {
        if (r.body.size() < kSize || r.body.size() != r.announcedLength) ++failures;
    }
    fs::remove_all(dir);

    double a = Median(ours), b = Median(peerWall), c = Median(peerSelf);
    std::printf("upload of 5 MB to a loopback sink, median of %d rounds\n", kRounds);
    std::printf("  vexa Request::Send        %8.2f ms\n", a);
    std::printf("  curl -F (process, wall)   %8.2f ms\n", b);
    std::printf("  curl -F (its time_total)  %8.2f ms\n", c);
    std::printf("ratio vexa/curl wall: %.2f\n", a / b);
    std::printf("ratio vexa/curl transfer: %.2f\n", a / c);
    if (failures != 0) {
        std::printf("FAILED: %d uploads did not arrive whole\n", failures);
        return 1;
    }
    return 0;
}
