#include "tests/e2e/WebServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool CanConnect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in a = Loopback(port);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

}  // namespace

int UnusedLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

CTestWebServer::CTestWebServer(Kind kind, bool rootRedirects) {
    char tmpl[] = "/tmp/tarvic-web-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        m_error = "mkdtemp failed";
        return;
    }
    m_dir = tmpl;
    std::filesystem::create_directories(m_dir + "/www");
    WriteFile(m_dir + "/www/index.html", "<html><body>tarvic test page</body></html>\n");
    m_port = UnusedLoopbackPort();
    const std::string port = std::to_string(m_port);

    std::vector<std::string> args;
    if (kind == Kind::Nginx) {
        const std::string d = m_dir;
        std::string conf = "daemon off;\nuser root;\nworker_processes 1;\n";
        conf += "pid " + d + "/nginx.pid;\nerror_log " + d + "/error.log;\n";
        conf += "events { worker_connections 32; }\nhttp {\n  access_log off;\n";
        for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
            conf += std::string("  ") + temp + "_temp_path " + d + "/" + temp + ";\n";
        }
        conf += "  server {\n    listen 127.0.0.1:" + port + ";\n    root " + d + "/www;\n";
        if (rootRedirects) {
            conf += "    location = / { return 302 http://example.com/elsewhere; }\n";
        }
        conf += "  }\n}\n";
        WriteFile(d + "/nginx.conf", conf);
        args = {"nginx", "-p", d, "-c", d + "/nginx.conf", "-e", d + "/error.log"};
    } else {
        WriteFile(m_dir + "/lighttpd.conf",
                  "server.document-root = \"" + m_dir + "/www\"\nserver.port = " + port +
                      "\nserver.bind = \"127.0.0.1\"\nserver.pid-file = \"" + m_dir +
                      "/lighttpd.pid\"\nserver.errorlog = \"" + m_dir +
                      "/error.log\"\nindex-file.names = (\"index.html\")\n");
        args = {"lighttpd", "-D", "-f", m_dir + "/lighttpd.conf"};
    }
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        m_error = std::string("cannot start ") + argv[0];
        return;
    }
    m_pid = pid;
    if (!WaitUntilListening(10000)) {
        m_error = std::string(argv[0]) + " did not start listening on " + port;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

bool CTestWebServer::WaitUntilListening(int timeoutMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (CanConnect(m_port)) {
            return true;
        }
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

CTestWebServer::~CTestWebServer() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    if (!m_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
}
