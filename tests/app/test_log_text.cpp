// The log's entries as a person reads them.
#include <gtest/gtest.h>

#include <string>

#include "app/LogText.h"

namespace {

TEST(LogText, ControlCharactersAreShownAndSentTextIsMarked) {
    struct {
        std::string bytes;
        std::string received;  // as a received line is shown
    } table[] = {
        {"OK", "OK"},
        {"AT\r\n", "AT\\r\\n"},
        {"GET / HTTP/1.0\r\nHost: example.com\r\n\r\n",
         "GET / HTTP/1.0\\r\\nHost: example.com\\r\\n\\r\\n"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1b[0m\x7f", "\\x1B[0m\\x7F"},
        {"C:\\path", "C:\\\\path"},        // a backslash cannot be taken for an escape
        {"\xcd\xe5\xf2", "\xcd\xe5\xf2"},  // Windows-1251 letters stay letters
        {"", ""},
    };
    for (const auto& row : table) {
        EXPECT_EQ(EscapedLogText(row.bytes), row.received);
        EXPECT_EQ(SentLogEntry(row.bytes), "> " + row.received);
    }
}

TEST(LogText, BoxesAndPortsThatCannotBeOpened) {
    EXPECT_EQ(BoxLogEntry(true, "GPRS ok"), "OK: GPRS ok");
    EXPECT_EQ(BoxLogEntry(false, "485 no"), "ERROR: 485 no");
    EXPECT_EQ(PortOpenFailedLogEntry(4, "/dev/ttyS3", "Permission denied"),
              "COM4 (/dev/ttyS3): Permission denied");
    EXPECT_EQ(PortOpenFailedLogEntry(1, "", "Access is denied"), "COM1: Access is denied");
}

}  // namespace
