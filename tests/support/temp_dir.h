// Temporary folders and environment settings for tests and benchmarks.
#pragma once

#include <string>

namespace tarvic::test {

// A new, empty folder under the system's temporary folder, removed with its content when
// the object goes. Throws std::filesystem::filesystem_error when none can be made.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "tarvic");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }

  private:
    std::string m_path;
};

// Sets an environment variable of this process for itself and the children it starts.
void SetEnv(const char* name, const std::string& value);

}  // namespace tarvic::test
