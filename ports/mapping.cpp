#include "ports/mapping.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>

namespace tarvic::ports {

namespace fs = std::filesystem;

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

std::string EntryPath(const std::string& dir, int n) {
    return dir + "/com" + std::to_string(n);
}

// Throws when entry, of status st, is not a link: tarvic-ports writes only links, so
// anything else was made by someone else.
void RequireLink(const std::string& entry, const struct stat& st) {
    if (S_ISLNK(st.st_mode)) {
        return;
    }
    std::string kind = S_ISDIR(st.st_mode)   ? "a folder"
                       : S_ISREG(st.st_mode) ? "a file"
                                             : "not a symbolic link";
    throw Error(entry + " is " + kind + ", not a link tarvic-ports wrote; it is left as it is");
}

}  // namespace

int ParsePortNumber(const std::string& text) {
    std::string s = text;
    if (s.size() > 3 && std::toupper(static_cast<unsigned char>(s[0])) == 'C' &&
        std::toupper(static_cast<unsigned char>(s[1])) == 'O' &&
        std::toupper(static_cast<unsigned char>(s[2])) == 'M') {
        s = s.substr(3);
        if (!s.empty() && s.back() == ':') {
            s.pop_back();
        }
    }
    if (s.empty() || s.size() > 3 ||
        !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    int n = std::stoi(s);
    return n >= 1 && n <= kMaxPort ? n : 0;
}

std::vector<Entry> ReadEntries(const std::string& dir) {
    std::vector<Entry> entries;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        std::string name = e.path().filename().string();
        if (name.rfind("com", 0) != 0) {
            continue;
        }
        std::string digits = name.substr(3);
        if (digits.empty() || digits[0] == '0' ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; }) ||
            digits.size() > 9) {
            continue;
        }
        Entry entry;
        entry.number = std::stoi(digits);
        entry.path = e.path().string();
        struct stat st;
        if (::lstat(entry.path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            std::error_code lec;
            entry.link = fs::read_symlink(entry.path, lec).string();
        }
        if (::stat(entry.path.c_str(), &st) != 0) {
            entry.problem = "leads nowhere: " + Reason(errno);
        } else {
            entry.device = fs::canonical(entry.path, ec).string();
            if (!S_ISCHR(st.st_mode)) {
                entry.problem = "is not a device";
            }
        }
        entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.number < b.number; });
    return entries;
}

void SetEntry(const std::string& dir, int n, const std::string& target) {
    std::string entry = EntryPath(dir, n);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        throw Error("cannot make the port directory " + dir + ": " + ec.message());
    }
    struct stat st;
    if (::lstat(entry.c_str(), &st) == 0) {
        RequireLink(entry, st);
    }
    // A new link under a private name, then renamed over the entry: the entry is never
    // missing halfway, and an old link is replaced itself, not followed.
    std::string temp = dir + "/.com" + std::to_string(n) + ".new" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        throw Error("cannot write " + entry + ": " + Reason(errno));
    }
    if (::rename(temp.c_str(), entry.c_str()) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        throw Error("cannot write " + entry + ": " + Reason(error));
    }
}

bool UnsetEntry(const std::string& dir, int n) {
    std::string entry = EntryPath(dir, n);
    struct stat st;
    if (::lstat(entry.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return false;
        }
        throw Error("cannot remove " + entry + ": " + Reason(errno));
    }
    RequireLink(entry, st);
    if (::unlink(entry.c_str()) != 0) {
        throw Error("cannot remove " + entry + ": " + Reason(errno));
    }
    return true;
}

}  // namespace tarvic::ports
