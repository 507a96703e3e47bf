#include "tests/support/posix/web_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace tarvic::test {
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

WebServer::WebServer(Kind kind, bool rootRedirects) {
    const std::string& dir = m_dir.Path();
    std::filesystem::create_directories(dir + "/www");
    WriteFile(dir + "/www/index.html", "<html><body>tarvic test page</body></html>\n");
    m_port = UnusedLoopbackPort();
    const std::string port = std::to_string(m_port);

    std::vector<std::string> args;
    if (kind == Kind::Nginx) {
        const std::string& d = dir;
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
    } else if (kind == Kind::PythonHttpServer) {
        args = {"python3", "-m",        "http.server", port,
                "--bind",  "127.0.0.1", "--directory", dir + "/www"};
    } else if (kind == Kind::BusyboxHttpd) {
        args = {"busybox", "httpd", "-f", "-p", "127.0.0.1:" + port, "-h", dir + "/www"};
    } else {
        WriteFile(dir + "/lighttpd.conf",
                  "server.document-root = \"" + dir + "/www\"\nserver.port = " + port +
                      "\nserver.bind = \"127.0.0.1\"\nserver.pid-file = \"" + dir +
                      "/lighttpd.pid\"\nserver.errorlog = \"" + dir +
                      "/error.log\"\nindex-file.names = (\"index.html\")\n");
        args = {"lighttpd", "-D", "-f", dir + "/lighttpd.conf"};
    }
    const std::string name = args[0];
    auto server = std::make_unique<ChildProcess>(std::move(args));
    if (!server->Started()) {
        m_error = "cannot start " + name;
        return;
    }
    m_server = std::move(server);
    if (!WaitUntilListening(10000)) {
        m_error = name + " did not start listening on " + port;
        m_server.reset();  // killed and waited for
    }
}

std::string WebServer::StatusLine(Kind kind) {
    return kind == Kind::Nginx || kind == Kind::BusyboxHttpd ? "HTTP/1.1 200 OK"
                                                             : "HTTP/1.0 200 OK";
}

const char* WebServer::Name(Kind kind) {
    switch (kind) {
        case Kind::Nginx:
            return "nginx";
        case Kind::Lighttpd:
            return "lighttpd";
        case Kind::PythonHttpServer:
            return "python_http_server";
        case Kind::BusyboxHttpd:
            return "busybox_httpd";
    }
    return "unknown";
}

void PrintTo(WebServer::Kind kind, std::ostream* os) {
    *os << WebServer::Name(kind);
}

bool WebServer::WaitUntilListening(int timeoutMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (CanConnect(m_port)) {
            return true;
        }
        if (m_server->Ended()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

WebServer::~WebServer() {
    if (m_server) {
        m_server->Signal(SIGTERM);
        m_server->Wait();
    }
}

}  // namespace tarvic::test
