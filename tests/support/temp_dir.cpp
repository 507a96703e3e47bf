#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <system_error>

namespace tarvic::test {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& prefix) {
    std::random_device seed;
    std::mt19937_64 rng(seed());
    const fs::path base = fs::temp_directory_path();
    // create_directory answers false for a name that exists: someone else's, try another.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path path = base / (prefix + "-" + std::to_string(rng()));
        if (fs::create_directory(path)) {
            fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
            m_path = path.string();
            return;
        }
    }
    throw fs::filesystem_error("no free temporary folder name", base,
                               std::make_error_code(std::errc::file_exists));
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

}  // namespace tarvic::test
