#include "tests/support/posix/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace tarvic::test {

ChildProcess::ChildProcess(std::vector<std::string> args, Capture capture) {
    if (args.empty()) {
        return;
    }
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int pipeFd[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const bool captureOutput = capture != Capture::Nothing;
    if (captureOutput) {
        if (pipe2(pipeFd, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return;
        }
        posix_spawn_file_actions_adddup2(&actions, pipeFd[1], STDOUT_FILENO);
        if (capture == Capture::OutputAndErrors) {
            posix_spawn_file_actions_adddup2(&actions, pipeFd[1], STDERR_FILENO);
        }
    }
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        m_pid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (captureOutput) {
        close(pipeFd[1]);
        m_output = fdopen(pipeFd[0], "r");
    }
}

ChildProcess::~ChildProcess() {
    if (Started() && !Ended()) {
        Signal(SIGKILL);
    }
    Wait();
    CloseOutput();
}

void ChildProcess::CloseOutput() {
    if (m_output != nullptr) {
        std::fclose(m_output);
        m_output = nullptr;
    }
}

std::string ChildProcess::ReadOutput() {
    std::string text;
    if (m_output == nullptr) {
        return text;
    }
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, m_output)) > 0) {
        text.append(chunk, got);
    }
    return text;
}

void ChildProcess::Signal(int sig) {
    if (Started() && !m_ended) {
        kill(m_pid, sig);
    }
}

bool ChildProcess::Ended() {
    if (Started() && !m_ended && waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
        m_ended = true;
    }
    return m_ended;
}

int ChildProcess::Wait() {
    if (!Started()) {
        return -1;
    }
    if (!m_ended) {
        while (waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
        m_ended = true;
    }
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
}

}  // namespace tarvic::test
