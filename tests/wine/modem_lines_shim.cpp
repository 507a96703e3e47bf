// Loaded into Wine (LD_PRELOAD) by the Windows tests only. Wine asks a serial port for its
// modem-status lines on every pass of a WaitCommEvent; a pseudo-terminal refuses with
// ENOTTY, and Wine then ends the wait before any byte arrives. Here a pseudo-terminal
// answers as a port with all lines up, so that the character event works as on a real port.
#include <dlfcn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdarg>

namespace {

// Linux gives the slave sides of pseudo-terminals the majors 136 to 143.
bool IsPtySlave(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143;
}

using IoctlFn = int (*)(int, unsigned long, void*);

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    static const auto real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
    switch (request) {
        case TIOCMGET:
            if (IsPtySlave(fd)) {
                *static_cast<int*>(arg) = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
                return 0;
            }
            break;
        case TIOCMSET:
        case TIOCMBIS:
        case TIOCMBIC:
            if (IsPtySlave(fd)) {
                return 0;
            }
            break;
        default:
            break;
    }
    return real(fd, request, arg);
}
