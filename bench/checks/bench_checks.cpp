// How long a passing check run takes against the simulator with instant answers, next to
// the waits that the protocol itself fixes:
//  - GPRS: each of the modem's 8 replies is delivered after 468 ms of silence (500
//    character times at 9600 baud), so 8 x 468 ms;
//  - RS-485: the 10 ms drain read plus the 78 ms read interval after the reply.
// Measured on the real dialog (offscreen), from the click on START to the GPRS box, and
// from the dismissal of that box to the RS-485 box (this includes the GPRS port's close
// and the RS-485 port's open).
#include <stdlib.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/tarvicDlg.h"
#include "platform/ui/qt/qt_app.h"
#include "sim/sim.h"
#include "tests/ui/ui_driver.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    char tmpl[] = "/tmp/tarvic-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        return 1;
    }
    setenv("XDG_CONFIG_HOME", tmpl, 1);
    QApplication app(argc, argv);
    ui::SetUpApplication();

    std::vector<double> gprs, rs485;
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
                    const auto start = Clock::now();
                    uitest::Click(dlg, IDOK);
                    if (!uitest::WaitUntil([] { return !uitest::OpenMessageBoxes().empty(); },
                                           30000)) {
                        std::fprintf(stderr, "no GPRS box\n");
                        return;
                    }
                    const auto gprsBox = Clock::now();
                    uitest::ClickMessageBoxOk();
                    const auto dismissed = Clock::now();
                    if (!uitest::WaitUntil([] { return !uitest::OpenMessageBoxes().empty(); },
                                           30000)) {
                        std::fprintf(stderr, "no RS-485 box\n");
                        return;
                    }
                    const auto rs485Box = Clock::now();
                    uitest::ClickMessageBoxOk();
                    gprs.push_back(Ms(gprsBox - start));
                    rs485.push_back(Ms(rs485Box - dismissed));
                    uitest::WaitUntil(
                        [&] { return dlg.GetDlgItem(IDC_485_PORT)->IsWindowEnabled(); });
                }
            },
            600000);
    }
    std::filesystem::remove_all(tmpl);
    if (gprs.empty()) {
        return 1;
    }
    const double gprsFixed = 8 * 468.0;
    const double rs485Fixed = 10.0 + 78.0;
    std::printf("runs: %zu\n", gprs.size());
    std::printf("GPRS check:   median %.1f ms, fixed waits %.0f ms, above them %.1f ms (%.2f%%)\n",
                Median(gprs), gprsFixed, Median(gprs) - gprsFixed,
                100.0 * (Median(gprs) - gprsFixed) / gprsFixed);
    std::printf("RS-485 check: median %.1f ms, fixed waits %.0f ms, above them %.1f ms\n",
                Median(rs485), rs485Fixed, Median(rs485) - rs485Fixed);
    return 0;
}
