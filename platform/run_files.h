// The files of the run transcripts: the folder they live in, new files, listing and
// removal. Paths and reasons are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvic::platform {

// ${XDG_STATE_HOME:-$HOME/.local/state}/tarvic/runs on Linux (an XDG_STATE_HOME that is not
// an absolute path is ignored), %LOCALAPPDATA%\tarvic\runs on Windows; empty when the
// system names no such folder.
std::string RunsFolder();

// Makes the folder and the parents it lacks. False with the system's reason.
bool MakeFolders(const std::string& folder, std::string& reason);

// The names of the plain files in the folder, in no particular order.
std::vector<std::string> FileNames(const std::string& folder);

bool RemoveFile(const std::string& folder, const std::string& name);

// A file that this program has just made, written by one thread; closed when it goes.
class CNewFile {
  public:
    enum class Result { Created, Exists, Failed };

    CNewFile() = default;
    ~CNewFile() { Close(); }
    CNewFile(const CNewFile&) = delete;
    CNewFile& operator=(const CNewFile&) = delete;

    // Makes folder/name, never opening a file that is already there (Exists).
    Result Create(const std::string& folder, const std::string& name, std::string& reason);
    // Writes all of bytes; false with the system's reason.
    bool Write(const std::string& bytes, std::string& reason);
    void Close();
    bool IsOpen() const { return m_handle != kNone; }

  private:
    static constexpr intptr_t kNone = -1;
    intptr_t m_handle = kNone;  // a file descriptor, or a HANDLE on Windows
    std::string m_path;
};

}  // namespace tarvic::platform
