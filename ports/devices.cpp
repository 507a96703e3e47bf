#include "ports/devices.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace tarvic::ports {

namespace fs = std::filesystem;

namespace {

// ttyUSB10 after ttyUSB9: by the prefix, then by the number.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t i = s.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1]))) {
            --i;
        }
        long n = i < s.size() ? std::stol(s.substr(i)) : -1;
        return std::make_pair(s.substr(0, i), n);
    };
    return split(a) < split(b);
}

bool IsCharDevice(const fs::path& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

bool HasUart(const std::string& sysTty, const std::string& name) {
    std::ifstream in(sysTty + "/" + name + "/type");
    int type = -1;
    if (!(in >> type)) {
        return true;  // nothing to tell by: show it
    }
    return type != 0;
}

std::string GroupName(gid_t gid) {
    if (const group* g = ::getgrgid(gid)) {
        return g->gr_name;
    }
    return std::to_string(gid);
}

std::string UserName(uid_t uid) {
    if (const passwd* pw = ::getpwuid(uid)) {
        return pw->pw_name;
    }
    return std::to_string(uid);
}

// Whether the group's entry in the group database names the user (a membership that a
// login started before it was added does not have yet).
bool ListedIn(gid_t gid, const std::string& user) {
    const group* g = ::getgrgid(gid);
    if (g == nullptr || user.empty()) {
        return false;
    }
    for (char** m = g->gr_mem; *m != nullptr; ++m) {
        if (user == *m) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<Device> FindDevices(const std::string& dev, const std::string& sysTty) {
    std::vector<Device> found;
    std::error_code ec;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dev + "/serial/by-id", ec)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
        std::string path = dev + "/serial/by-id/" + n;
        fs::path target = fs::canonical(path, ec);
        found.push_back({path, ec ? std::string("(missing)") : target.string()});
    }

    names.clear();
    for (const auto& e : fs::directory_iterator(dev, ec)) {
        std::string n = e.path().filename().string();
        bool usbOrAcm = n.rfind("ttyUSB", 0) == 0 || n.rfind("ttyACM", 0) == 0;
        bool uart = n.rfind("ttyS", 0) == 0 && n.size() > 4 &&
                    std::isdigit(static_cast<unsigned char>(n[4])) && HasUart(sysTty, n);
        if ((usbOrAcm || uart) && IsCharDevice(e.path())) {
            names.push_back(n);
        }
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const std::string& n : names) {
        found.push_back({dev + "/" + n, {}});
    }
    return found;
}

std::string StableName(const std::string& path, const std::string& byIdDir) {
    std::error_code ec;
    fs::path device = fs::canonical(path, ec);
    if (ec) {
        return path;
    }
    if (fs::path(path).parent_path() == fs::path(byIdDir)) {
        return path;
    }
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(byIdDir, ec)) {
        std::error_code ignored;
        if (fs::canonical(e.path(), ignored) == device) {
            names.push_back(e.path().string());
        }
    }
    if (names.empty()) {
        return path;
    }
    return *std::min_element(names.begin(), names.end());
}

User CurrentUser() {
    User u;
    u.uid = ::geteuid();
    int n = ::getgroups(0, nullptr);
    u.groups.resize(static_cast<size_t>(std::max(n, 0)));
    n = ::getgroups(static_cast<int>(u.groups.size()), u.groups.data());
    u.groups.resize(static_cast<size_t>(std::max(n, 0)));
    u.groups.push_back(::getegid());
    if (const passwd* pw = ::getpwuid(u.uid)) {
        u.name = pw->pw_name;
    }
    return u;
}

std::string AccessProblem(const struct stat& st, const User& user) {
    if (user.uid == 0) {
        return {};
    }
    const mode_t rw = S_IRUSR | S_IWUSR;
    if (st.st_uid == user.uid) {
        if ((st.st_mode & rw) == rw) {
            return {};
        }
        return "you own it, but its permissions do not let you read and write it";
    }
    bool member = std::find(user.groups.begin(), user.groups.end(), st.st_gid) != user.groups.end();
    if (member) {
        if ((st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
            return {};
        }
    } else if ((st.st_mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH)) {
        return {};
    }
    std::string group = GroupName(st.st_gid);
    if (member) {
        return "you are in its group " + group + ", but that group may not read and write it";
    }
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        // Joining its group would not help.
        return "only its owner " + UserName(st.st_uid) +
               " may read and write it; its permissions must change first (ask the " +
               "administrator)";
    }
    std::string who = user.name.empty() ? std::string("$USER") : user.name;
    if (ListedIn(st.st_gid, user.name)) {
        return "it belongs to the group " + group + "; you were added to that group, but " +
               "this login started before: log out and in again";
    }
    return "it belongs to the group " + group + ", and you are not in it. Add yourself with " +
           "\"sudo usermod -aG " + group + " " + who + "\", then log out and in again";
}

}  // namespace tarvic::ports
