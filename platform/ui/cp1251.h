// Windows-1251 <-> UTF-8. Texts built at run time are single-byte Windows-1251 strings;
// the toolkit shows UTF-8, so every text crosses this table on its way in and out.
#pragma once

#include <string>
#include <string_view>

namespace tarvic::ui {

// Bytes with no character in the code page (only 0x98) become U+FFFD.
std::string Cp1251ToUtf8(std::string_view text);

// Characters with no Windows-1251 byte, and malformed UTF-8, become '?'.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace tarvic::ui
