#include "platform/system_info.h"

#include <windows.h>

#include <string>

namespace tarvic::platform {

namespace {

// A procedure of a system library by name; through void(*)() the cast says nothing of the
// procedure's true type, which the caller knows.
template <class F>
F Procedure(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::string Utf8(const wchar_t* text, int length) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    }
    return out;
}

}  // namespace

LocalTime LocalTimeNow() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

std::string PlatformName() {
    // GetVersionEx answers what the program's manifest allows; ntdll tells the truth.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    std::string name = "Windows";
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr) {
        auto rtlGetVersion = Procedure<RtlGetVersionFn>(ntdll, "RtlGetVersion");
        OSVERSIONINFOW v{};
        v.dwOSVersionInfoSize = sizeof v;
        if (rtlGetVersion != nullptr && rtlGetVersion(&v) == 0) {
            name += " " + std::to_string(v.dwMajorVersion) + "." +
                    std::to_string(v.dwMinorVersion) + "." + std::to_string(v.dwBuildNumber);
        }
        // Wine says so, and which one: that matters when its ports behave unlike Windows'.
        using WineVersionFn = const char*(CDECL*)();
        auto wineVersion = Procedure<WineVersionFn>(ntdll, "wine_get_version");
        if (wineVersion != nullptr) {
            name += std::string(" (Wine ") + wineVersion() + ")";
        }
    }
    SYSTEM_INFO si{};
    GetNativeSystemInfo(&si);
    name += si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64   ? " x64"
            : si.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? " ARM64"
                                                                        : "";
    return name;
}

std::string PortDevice(int) {
    return {};
}

std::string ErrorText(uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (n == 0 || text == nullptr) {
        return "error " + std::to_string(code);
    }
    DWORD length = n;
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L' ' || text[length - 1] == L'.')) {
        --length;
    }
    std::string out = Utf8(text, int(length));
    LocalFree(text);
    return out;
}

}  // namespace tarvic::platform
