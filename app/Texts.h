// Texts that the tool shows are single-byte Windows-1251 strings. The sources are UTF-8, so
// each Russian text is written readably and converted while compiling.
#pragma once

#include <cstddef>

template <std::size_t N>
struct CCp1251Text {
    char text[N] = {};

    // Only ASCII and the Russian alphabet can be written; anything else does not compile.
    consteval CCp1251Text(const char (&utf8)[N]) {
        std::size_t out = 0;
        for (std::size_t i = 0; i + 1 < N;) {
            const unsigned char c = static_cast<unsigned char>(utf8[i]);
            if (c < 0x80) {
                text[out++] = static_cast<char>(c);
                i += 1;
                continue;
            }
            if ((c & 0xE0) != 0xC0 || i + 2 >= N) {
                throw "not a two-byte UTF-8 sequence";
            }
            const unsigned code =
                ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            unsigned byte = 0;
            if (code >= 0x410 && code <= 0x44F) {
                byte = code - 0x410 + 0xC0;  // А..я
            } else if (code == 0x401) {
                byte = 0xA8;  // Ё
            } else if (code == 0x451) {
                byte = 0xB8;  // ё
            } else {
                throw "no Windows-1251 equivalent";
            }
            text[out++] = static_cast<char>(byte);
            i += 2;
        }
    }
};

// The texts of the check run's message boxes, and the system-menu item that shows and
// hides the log list.
namespace texts {
inline constexpr CCp1251Text kLogMenuItem{"Журнал"};
inline constexpr CCp1251Text kPortOpenFailed{"Не удается открыть COM порт"};
inline constexpr CCp1251Text kBadHost{"Неверный адрес сервера"};
inline constexpr CCp1251Text kRunNotStarted{"Не удается запустить проверку"};
inline constexpr CCp1251Text kGprsPassed{"GPRS проверен"};
inline constexpr CCp1251Text kGprsFailed{"Нет связи GPRS"};
inline constexpr CCp1251Text k485Passed{"485 проверен"};
inline constexpr CCp1251Text k485Failed{"Нет связи 485"};
}  // namespace texts
