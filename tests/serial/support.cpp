#include "tests/serial/support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "sim/pseudo_terminal.h"
#include "tests/support/posix/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarvic::test {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

struct PrivateConfig {
    TempDir root{"tarvic-serial"};
    std::string ports = root.Path() + "/tarvic/ports";
    PrivateConfig() {
        fs::create_directories(ports);
        SetEnv("XDG_CONFIG_HOME", root.Path());
    }
};

}  // namespace

const std::string& PortDirectory() {
    static PrivateConfig config;
    return config.ports;
}

Pty::Pty(int number) : m_number(number) {
    sim::PseudoTerminal pt = sim::OpenPseudoTerminal(false);
    m_master = pt.master;
    m_slave = pt.slave;
    m_slavePath = pt.slavePath;
    m_link = PortDirectory() + "/com" + std::to_string(number);
    std::error_code ignored;
    fs::remove(m_link, ignored);
    fs::create_symlink(m_slavePath, m_link);
}

Pty::~Pty() {
    std::error_code ignored;
    fs::remove(m_link, ignored);
    CloseMaster();
    close(m_slave);
}

void Pty::Send(const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("write master");
        }
        done += static_cast<size_t>(n);
    }
}

Bytes Pty::Receive(size_t n, int timeoutMs) {
    Bytes out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            break;
        }
        pollfd fd{m_master, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        uint8_t chunk[4096];
        ssize_t got = read(m_master, chunk, std::min(sizeof chunk, n - out.size()));
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), chunk, chunk + got);
    }
    return out;
}

void Pty::CloseMaster() {
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}

termios Pty::SlaveTermios() const {
    termios t{};
    tcgetattr(m_slave, &t);
    return t;
}

void Pty::SetSlaveTermios(const termios& t) {
    tcsetattr(m_slave, TCSANOW, &t);
}

int RunProbe(int n) {
    ChildProcess probe({TARVIC_OPEN_PROBE, std::to_string(n)});
    return probe.Wait();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace tarvic::test
