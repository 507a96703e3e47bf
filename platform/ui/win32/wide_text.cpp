// The Windows-1251 boundary: every text of the framework is Windows-1251, the system's
// calls take wide characters.
#include "platform/ui/win32/wide_text.h"

#include <windows.h>

namespace tarvic::ui {

std::wstring Wide(const char* cp1251) {
    if (cp1251 == nullptr || *cp1251 == '\0') {
        return std::wstring();
    }
    const int n = MultiByteToWideChar(1251, 0, cp1251, -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(1251, 0, cp1251, -1, out.data(), n);
    out.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
    return out;
}

std::string FromWide(const wchar_t* text, int length) {
    if (length <= 0) {
        return std::string();
    }
    const int n = WideCharToMultiByte(1251, 0, text, length, nullptr, 0, "?", nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(1251, 0, text, length, out.data(), n, "?", nullptr);
    return out;
}

}  // namespace tarvic::ui
