// A real web server (nginx or lighttpd) on the loopback, started for one test and stopped
// with it. Its root page answers 200, or 302 when it redirects (nginx only).
#pragma once

#include <sys/types.h>

#include <string>

class CTestWebServer {
  public:
    enum class Kind { Nginx, Lighttpd };

    explicit CTestWebServer(Kind kind, bool rootRedirects = false);
    ~CTestWebServer();
    CTestWebServer(const CTestWebServer&) = delete;
    CTestWebServer& operator=(const CTestWebServer&) = delete;

    // False when the server could not be started (the reason is in Error()).
    bool Running() const { return m_pid > 0; }
    const std::string& Error() const { return m_error; }
    int Port() const { return m_port; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }

  private:
    bool WaitUntilListening(int timeoutMs) const;

    std::string m_dir;
    std::string m_error;
    int m_port = 0;
    pid_t m_pid = -1;
};

// A loopback port on which nothing listens, for refused connections.
int UnusedLoopbackPort();
