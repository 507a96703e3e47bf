// A child process started by a test, and ended with it at the latest.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tarvic::test {

class ChildProcess {
  public:
    // What of the child's output can be read from Output(); the rest is the test's own.
    enum class Capture { Nothing, Output, OutputAndErrors };
    // Starts args[0], looked up in PATH when it names no folder.
    explicit ChildProcess(std::vector<std::string> args, Capture capture = Capture::Nothing);
    // A child still running is killed and waited for.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    FILE* Output() const { return m_output; }
    // Reads what it captured up to its end (the child's end, or its closing the output).
    std::string ReadOutput();
    // Closes our end of its output: a child that writes more gets EPIPE, not a full pipe.
    void CloseOutput();
    void Signal(int sig);
    // Whether it has ended, without waiting.
    bool Ended();
    // Waits for its end: its exit code, or 128 + the signal that ended it; -1 if it never
    // started.
    int Wait();

  private:
    pid_t m_pid = -1;
    FILE* m_output = nullptr;
    bool m_ended = false;
    int m_status = 0;
};

}  // namespace tarvic::test
