// Windows-1251 <-> UTF-8, checked against the system's own converter.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <string>

#include "platform/ui/cp1251.h"

namespace {

// The system's converter as the reference; empty when it has no character for the byte.
#ifdef _WIN32
std::string ReferenceUtf8(unsigned char byte) {
    const char in[1] = {static_cast<char>(byte)};
    wchar_t wide[4] = {};
    const int n = MultiByteToWideChar(1251, MB_ERR_INVALID_CHARS, in, 1, wide, 4);
    // Windows passes the code page's one hole (0x98) through as the C1 control U+0098.
    if (n <= 0 || (wide[0] >= 0x80 && wide[0] <= 0x9F)) {
        return std::string();
    }
    char out[8] = {};
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, out, sizeof out, nullptr, nullptr);
    return m <= 0 ? "no converter" : std::string(out, static_cast<size_t>(m));
}
#else
std::string ReferenceUtf8(unsigned char byte) {
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return "no converter";
    }
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* pin = in;
    char* pout = out;
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    const size_t r = iconv(cd, &pin, &inLeft, &pout, &outLeft);
    iconv_close(cd);
    return r == static_cast<size_t>(-1) ? std::string() : std::string(out, pout);
}
#endif

TEST(Cp1251, EveryByteMatchesTheReferenceConverter) {
    for (int b = 0; b < 256; ++b) {
        const std::string expected = ReferenceUtf8(static_cast<unsigned char>(b));
        const std::string actual = ui::Cp1251ToUtf8(std::string(1, static_cast<char>(b)));
        if (expected.empty()) {
            EXPECT_EQ(actual, "\xEF\xBF\xBD") << "byte " << b;  // U+FFFD
        } else {
            EXPECT_EQ(actual, expected) << "byte " << b;
        }
    }
}

TEST(Cp1251, RussianAlphabetBothWays) {
    std::string bytes;
    for (int b = 0xC0; b <= 0xFF; ++b) {
        bytes += static_cast<char>(b);
    }
    bytes += "\xA8\xB8";
    const std::string utf8 = "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюяЁё";
    EXPECT_EQ(ui::Cp1251ToUtf8(bytes), utf8);
    EXPECT_EQ(ui::Utf8ToCp1251(utf8), bytes);
}

TEST(Cp1251, EveryDefinedByteSurvivesTheRoundTrip) {
    for (int b = 1; b < 256; ++b) {
        if (b == 0x98) {
            continue;  // no character
        }
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(ui::Utf8ToCp1251(ui::Cp1251ToUtf8(one)), one) << "byte " << b;
    }
}

TEST(Cp1251, TextsWithoutAByteBecomeQuestionMarks) {
    struct Case {
        const char* utf8;
        const char* expected;
    };
    const Case cases[] = {
        {"COM1", "COM1"},
        {"\xE2\x82\xAC", "\x88"},     // euro sign
        {"\xE4\xB8\xAD", "?"},        // a CJK character
        {"\xF0\x9F\x98\x80x", "?x"},  // outside the basic plane
        {"a\xC3", "a?"},              // cut short
        {"\xD0\x41", "?A"},           // broken continuation
        {"\xFF", "?"},                // never valid
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ui::Utf8ToCp1251(c.utf8), c.expected) << c.utf8;
    }
}

}  // namespace
