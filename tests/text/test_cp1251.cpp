// Windows-1251 <-> UTF-8, checked against the C library's own converter.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "platform/ui/cp1251.h"

namespace tarvic {
namespace {

// glibc's converter as the reference; empty when it has no character for the byte.
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
}  // namespace tarvic
