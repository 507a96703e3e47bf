// The RS-485 link check's pattern and its verdict on the reply.
#pragma once

typedef unsigned char BYTE;

constexpr int k485PatternLength = 10;

// Byte i of the pattern is i; the device answers with the top bit set.
inline void Fill485Pattern(BYTE* out) {
    for (int i = 0; i < k485PatternLength; ++i) {
        out[i] = static_cast<BYTE>(i);
    }
}

// Exactly ten bytes, byte i equal to i XOR 0x80.
inline bool Is485Reply(const BYTE* data, int count) {
    if (count != k485PatternLength) {
        return false;
    }
    for (int i = 0; i < k485PatternLength; ++i) {
        if (data[i] != (i ^ 0x80)) {
            return false;
        }
    }
    return true;
}
