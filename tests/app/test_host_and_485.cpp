// The URL field's host check and the RS-485 reply verdict.
#include <gtest/gtest.h>

#include <string>

#include "app/HostName.h"
#include "app/Rs485Reply.h"

namespace {

std::string Labels(int count, int length) {
    std::string s;
    for (int i = 0; i < count; ++i) {
        s += (i ? "." : "") + std::string(length, 'a');
    }
    return s;
}

TEST(HostName, TableOfTexts) {
    const std::string name253 = Labels(3, 63) + "." + std::string(61, 'b');  // 3*64 + 61
    const std::string name254 = name253 + "b";
    ASSERT_EQ(name253.size(), 253u);
    struct {
        std::string text;
        bool ok;
    } table[] = {
        {"example.com", true},
        {"  example.com\t", true},
        {"localhost", true},
        {"my-host.example.org", true},
        {"A1.B2.c3", true},
        {"192.168.0.1", true},
        {"255.255.255.255", true},
        {"0.0.0.0", true},
        {name253, true},
        {name254, false},
        {std::string(63, 'a') + ".com", true},
        {std::string(64, 'a') + ".com", false},
        {"", false},
        {"   ", false},
        {"http://example.com", false},
        {"example.com/index.html", false},
        {"example.com\r\nATH", false},
        {"example.com\n", false},
        {"exa\"mple.com", false},
        {"example.com,80", false},
        {"exa mple.com", false},
        {"-example.com", false},
        {"example-.com", false},
        {"example..com", false},
        {".example.com", false},
        {"example.com.", false},
        {"256.1.1.1", false},
        {"1.2.3", false},
        {"01.2.3.4", false},
        {"\xef\xf0\xe8\xec\xe5\xf0.\xf0\xf4", false},          // Cyrillic, single-byte
        {"\xd0\xbf\xd1\x80\xd0\xb8.\xd1\x80\xd1\x84", false},  // Cyrillic, UTF-8
    };
    for (const auto& row : table) {
        EXPECT_EQ(IsValidHost(TrimBlanks(row.text)), row.ok) << '"' << row.text << '"';
    }
}

TEST(HostName, TrimKeepsInnerText) {
    EXPECT_EQ(TrimBlanks(" \t a b \t"), "a b");
    EXPECT_EQ(TrimBlanks(" \t "), "");
}

TEST(Rs485Reply, Verdict) {
    BYTE good[10], loop[10];
    Fill485Pattern(loop);
    for (int i = 0; i < 10; ++i) {
        good[i] = BYTE(i | 0x80);
    }
    EXPECT_EQ(loop[9], 9);
    EXPECT_TRUE(Is485Reply(good, 10));
    EXPECT_FALSE(Is485Reply(loop, 10));
    EXPECT_FALSE(Is485Reply(good, 9));
    BYTE eleven[11];
    std::copy(good, good + 10, eleven);
    eleven[10] = 0x8A;
    EXPECT_FALSE(Is485Reply(eleven, 11));
    for (int at : {0, 9}) {
        BYTE bad[10];
        std::copy(good, good + 10, bad);
        bad[at] ^= 0x01;
        EXPECT_FALSE(Is485Reply(bad, 10)) << "wrong byte at " << at;
    }
    BYTE echoAndReply[20];
    std::copy(loop, loop + 10, echoAndReply);
    std::copy(good, good + 10, echoAndReply + 10);
    EXPECT_FALSE(Is485Reply(echoAndReply, 20));
}

}  // namespace
