#include "platform/run_files.h"

#include <windows.h>

#include <string>

namespace tarvic::platform {

namespace {

std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    }
    return out;
}

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr,
                            nullptr);
    }
    return out;
}

std::string Reason(const std::string& path, DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message = n > 0 && text != nullptr ? std::wstring(text, n) : L"";
    if (text != nullptr) {
        LocalFree(text);
    }
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                                message.back() == L' ' || message.back() == L'.')) {
        message.pop_back();
    }
    return path + ": " + (message.empty() ? "error " + std::to_string(code) : Utf8(message));
}

}  // namespace

std::string RunsFolder() {
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (n == 0) {
        return {};
    }
    std::wstring value(n, L'\0');
    const DWORD got = GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), n);
    if (got == 0 || got >= n) {
        return {};
    }
    value.resize(got);
    return Utf8(value) + "\\tarvic\\runs";
}

bool MakeFolders(const std::string& folder, std::string& reason) {
    if (folder.empty()) {
        reason = "no folder for the transcripts (LOCALAPPDATA is not set)";
        return false;
    }
    // Each parent in turn, from the first separator after the drive; one that is there
    // already is fine.
    const size_t first = folder.find_first_of("\\/", folder.find(':') + 2);
    for (size_t at = first;; at = folder.find_first_of("\\/", at + 1)) {
        const std::string part = folder.substr(0, at);
        if (!CreateDirectoryW(Wide(part).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            reason = Reason(part, GetLastError());
            return false;
        }
        if (at == std::string::npos) {
            break;
        }
    }
    const DWORD attributes = GetFileAttributesW(Wide(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        reason = Reason(folder, ERROR_DIRECTORY);
        return false;
    }
    return true;
}

std::vector<std::string> FileNames(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW(Wide(folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.push_back(Utf8(found.cFileName));
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

bool RemoveFile(const std::string& folder, const std::string& name) {
    return DeleteFileW(Wide(folder + "\\" + name).c_str()) != FALSE;
}

CNewFile::Result CNewFile::Create(const std::string& folder, const std::string& name,
                                  std::string& reason) {
    Close();
    const std::string path = folder + "\\" + name;
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) {
            return Result::Exists;
        }
        reason = Reason(path, code);
        return Result::Failed;
    }
    m_handle = reinterpret_cast<intptr_t>(h);
    m_path = path;
    return Result::Created;
}

bool CNewFile::Write(const std::string& bytes, std::string& reason) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = DWORD(bytes.size() - done);
        if (!WriteFile(reinterpret_cast<HANDLE>(m_handle), bytes.data() + done, chunk, &written,
                       nullptr) ||
            written == 0) {
            reason = Reason(m_path, GetLastError());
            return false;
        }
        done += written;
    }
    return true;
}

void CNewFile::Close() {
    if (m_handle != kNone) {
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
        m_handle = kNone;
    }
}

}  // namespace tarvic::platform
