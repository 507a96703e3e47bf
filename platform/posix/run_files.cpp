#include "platform/run_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tarvic::platform {

namespace {

std::string Reason(const std::string& path, int err) {
    char buf[256];
    return path + ": " + strerror_r(err, buf, sizeof buf);
}

}  // namespace

std::string RunsFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/tarvic/runs";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/tarvic/runs";
    }
    return {};
}

bool MakeFolders(const std::string& folder, std::string& reason) {
    if (folder.empty()) {
        reason = "no folder for the transcripts (neither XDG_STATE_HOME nor HOME is set)";
        return false;
    }
    // Each parent in turn; one that is there already is fine.
    for (size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        const std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = Reason(part, errno);
            return false;
        }
        if (at == std::string::npos) {
            break;
        }
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        reason = Reason(folder, ENOTDIR);
        return false;
    }
    return true;
}

std::vector<std::string> FileNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* e = readdir(dir)) {
        if (e->d_type == DT_REG) {
            names.emplace_back(e->d_name);
        }
    }
    closedir(dir);
    return names;
}

bool RemoveFile(const std::string& folder, const std::string& name) {
    return unlink((folder + "/" + name).c_str()) == 0;
}

CNewFile::Result CNewFile::Create(const std::string& folder, const std::string& name,
                                  std::string& reason) {
    Close();
    const std::string path = folder + "/" + name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) {
            return Result::Exists;
        }
        reason = Reason(path, errno);
        return Result::Failed;
    }
    m_handle = fd;
    m_path = path;
    return Result::Created;
}

bool CNewFile::Write(const std::string& bytes, std::string& reason) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(int(m_handle), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            reason = Reason(m_path, n < 0 ? errno : ENOSPC);
            return false;
        }
        done += size_t(n);
    }
    return true;
}

void CNewFile::Close() {
    if (m_handle != kNone) {
        close(int(m_handle));
        m_handle = kNone;
    }
}

}  // namespace tarvic::platform
