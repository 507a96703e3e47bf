// Windows-1251, as every text of the framework is, to and from the wide characters that the
// system's calls take. Characters Windows-1251 lacks become '?'.
#pragma once

#include <string>

namespace tarvic::ui {

std::wstring Wide(const char* cp1251);
std::string FromWide(const wchar_t* text, int length);

}  // namespace tarvic::ui
