// A real web server (nginx, lighttpd, Python's http.server or BusyBox httpd) on the
// loopback, started for one test and stopped with it. Its root page answers 200 with a page that
// says "tarvic test page", or 302 when it redirects (nginx only).
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "tests/support/posix/child_process.h"
#include "tests/support/temp_dir.h"

namespace tarvic::test {

class WebServer {
  public:
    enum class Kind { Nginx, Lighttpd, PythonHttpServer, BusyboxHttpd };

    // The server is looked up in PATH.
    explicit WebServer(Kind kind, bool rootRedirects = false);
    // The status line its root page answers with.
    static std::string StatusLine(Kind kind);
    // A short name, such as "nginx", that can name a test.
    static const char* Name(Kind kind);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // False when the server could not be started (the reason is in Error()).
    bool Running() const { return m_server != nullptr; }
    const std::string& Error() const { return m_error; }
    int Port() const { return m_port; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }

  private:
    bool WaitUntilListening(int timeoutMs) const;

    TempDir m_dir{"tarvic-web"};
    std::string m_error;
    int m_port = 0;
    std::unique_ptr<ChildProcess> m_server;
};

// Tests that take a kind as their parameter are named by it.
void PrintTo(WebServer::Kind kind, std::ostream* os);

// A loopback port on which nothing listens, for refused connections.
int UnusedLoopbackPort();

}  // namespace tarvic::test
