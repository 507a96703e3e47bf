// What CComPort adds on top of the waits its protocol fixes, on a pseudo-terminal:
//  1. 115200 baud, 1000 interval characters (78 ms): the time from the last byte of a
//     10-byte burst to Read's return, minus 78 ms; median and p99 over 200 bursts.
//  2. CPU time of the whole process over 10 s with an open, idle port.
// The port directory is a temporary one (XDG_CONFIG_HOME), never the user's.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComPort.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/temp_dir.h"

namespace tarvic {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

}  // namespace
}  // namespace tarvic

int main() {
    using namespace tarvic;
    tarvic::test::TempDir home("tarvic-bench");
    const std::string& root = home.Path();
    fs::create_directories(root + "/tarvic/ports");
    tarvic::test::SetEnv("XDG_CONFIG_HOME", root);

    // The slave, held open, keeps the line up between opens.
    const sim::PseudoTerminal pt = sim::OpenPseudoTerminal(false);
    const int master = pt.master;
    const int slave = pt.slave;
    fs::create_symlink(pt.slavePath, root + "/tarvic/ports/com1");

    CComPort port;
    port.SetPortNumber(1);
    port.SetBaudRate(115200);
    port.SetIntervalChars(1000);
    port.SetBufferSize(1024);
    if (!port.Open()) {
        std::fprintf(stderr, "open failed\n");
        return 1;
    }
    const double intervalMs = 78.0;  // (8 + 0 + 1) * 1000 * 1000 / 115200

    constexpr int kBursts = 200;
    std::vector<double> extra;
    std::vector<BYTE> dest(1024);
    std::atomic<int> go{0};
    std::atomic<Clock::rep> lastByte{0};
    std::thread sender([&] {
        const BYTE burst[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        for (int i = 1; i <= kBursts; ++i) {
            while (go.load() < i) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));  // Read is waiting
            (void)!write(master, burst, sizeof burst);
            lastByte = Clock::now().time_since_epoch().count();
        }
    });
    int failures = 0;
    for (int i = 1; i <= kBursts; ++i) {
        go = i;
        int count = 0;
        if (!port.Read(dest.data(), &count, 5000) || count != 10) {
            ++failures;
            continue;
        }
        const auto returned = Clock::now();
        const auto sent = Clock::time_point(Clock::duration(lastByte.load()));
        extra.push_back(std::chrono::duration<double, std::milli>(returned - sent).count() -
                        intervalMs);
    }
    sender.join();
    if (extra.empty()) {
        std::fprintf(stderr, "no burst was delivered\n");
        return 1;
    }
    std::printf("burst latency beyond the 78 ms interval over %zu bursts (%d failed):\n",
                extra.size(), failures);
    std::printf("  median %.3f ms, p99 %.3f ms, max %.3f ms\n", Percentile(extra, 0.5),
                Percentile(extra, 0.99), *std::max_element(extra.begin(), extra.end()));

    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    std::printf("idle open port: %.1f ms CPU over %.1f s\n", cpu * 1000.0, wall);

    port.Close();
    close(slave);
    close(master);
    return failures == 0 ? 0 : 1;
}
