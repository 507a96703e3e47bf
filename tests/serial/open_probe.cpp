// Tries to open COM<n>: from a process of its own. Exit code: 0 opened, 2 in use, 1 other.
#include <cstdio>
#include <cstdlib>

#include "platform/winapi.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        return 1;
    }
    char name[16];
    std::snprintf(name, sizeof name, "COM%d:", std::atoi(argv[1]));
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION ? 2 : 1;
    }
    CloseHandle(h);
    return 0;
}
