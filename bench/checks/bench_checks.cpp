// How long a passing check run takes against the simulator with instant answers, next to
// the waits that the protocol itself fixes:
//  - GPRS: each of the modem's replies is delivered after 468 ms of silence (500
//    character times at 9600 baud); the simulated modem answers each command and the
//    request with one burst, so a run has (commands + 1) x 468 ms of fixed waits (8 on the
//    first run, 7 once the modem's context is active);
//  - RS-485: the 10 ms drain read plus the 78 ms read interval after the reply.
// Measured on the real dialog (offscreen): from the click on START to the GPRS box, and from
// the RS-485 check's open of its port to the RS-485 box. Boxes are seen within 5 ms (the
// driver's polling), which counts against the tool.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/tarvicDlg.h"
#include "platform/posix/seam.h"
#include "platform/ui/test_driver.h"
#include "sim/sim.h"
#include "tests/support/temp_dir.h"

namespace tarvic {
namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// When the RS-485 check asked for its port (COM4) last.
std::atomic<Clock::rep> g_rs485OpenedAt{0};

HANDLE TimedCreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                       DWORD disposition, DWORD flags, HANDLE templ) {
    if (std::strcmp(name, "COM4:") == 0) {
        g_rs485OpenedAt = Clock::now().time_since_epoch().count();
    }
    return tarvic::posix::RealOps().CreateFileA(name, access, share, sa, disposition, flags, templ);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int Bench(int runs, const char* tmpl) {
    tarvic::posix::Ops ops = tarvic::posix::RealOps();
    ops.CreateFileA = TimedCreateFile;
    tarvic::posix::ScopedOps timedOpen(ops);
    std::vector<double> gprs, gprsFixed, rs485;
    {
        sim::Bench bench(tmpl);
        bench.AddModem(1, {});
        bench.AddRs485(4, {});
        bench.Start();
        CTarvicDlg dlg;
        uitest::RunModal(
            dlg,
            [&] {
                for (int i = 0; i < runs; ++i) {
                    const size_t commandsBefore = bench.ModemCommands().size();
                    const auto start = Clock::now();
                    uitest::Click(dlg, IDOK);
                    if (!uitest::WaitUntil([] { return !uitest::OpenMessageBoxes().empty(); },
                                           30000)) {
                        std::fprintf(stderr, "no GPRS box\n");
                        return;
                    }
                    const auto gprsBox = Clock::now();
                    uitest::ClickMessageBoxOk();
                    if (!uitest::WaitUntil([] { return !uitest::OpenMessageBoxes().empty(); },
                                           30000)) {
                        std::fprintf(stderr, "no RS-485 box\n");
                        return;
                    }
                    const auto rs485Box = Clock::now();
                    uitest::ClickMessageBoxOk();
                    gprs.push_back(Ms(gprsBox - start));
                    gprsFixed.push_back(468.0 *
                                        double(bench.ModemCommands().size() - commandsBefore + 1));
                    rs485.push_back(
                        Ms(rs485Box - Clock::time_point(Clock::duration(g_rs485OpenedAt.load()))));
                    // The run ends just after it gives the inputs back.
                    uitest::WaitUntil(
                        [&] { return dlg.GetDlgItem(IDC_485_PORT)->IsWindowEnabled(); });
                    uitest::Pump(100);
                }
            },
            600000);
    }
    if (gprs.empty()) {
        return 1;
    }
    std::vector<double> above, percent;
    for (size_t i = 0; i < gprs.size(); ++i) {
        above.push_back(gprs[i] - gprsFixed[i]);
        percent.push_back(100.0 * above.back() / gprsFixed[i]);
    }
    std::vector<double> rs485Above;
    for (double d : rs485) {
        rs485Above.push_back(d - (10.0 + 78.0));
    }
    std::printf("runs: %zu\n", gprs.size());
    std::printf(
        "GPRS check:   first run %.1f ms for %.0f ms of fixed waits; above them: median "
        "%.1f ms (%.2f%%), worst %.1f ms\n",
        gprs[0], gprsFixed[0], Median(above), Median(percent),
        *std::max_element(above.begin(), above.end()));
    std::printf(
        "RS-485 check: median %.1f ms for 88 ms of fixed waits (10 + 78); above them: "
        "median %.1f ms, worst %.1f ms\n",
        Median(rs485), Median(rs485Above), *std::max_element(rs485Above.begin(), rs485Above.end()));
    return 0;
}

}  // namespace
}  // namespace tarvic

int main(int argc, char** argv) {
    using namespace tarvic;
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const tarvic::test::TempDir home("tarvic-bench");
    tarvic::test::SetEnv("XDG_CONFIG_HOME", home.Path());
    tarvic::test::SetEnv("XDG_STATE_HOME", home.Path() + "/state");  // the runs' transcripts
    return uitest::RunUi(argc, argv, [&] { return Bench(runs, home.Path().c_str()); });
}
