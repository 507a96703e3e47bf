// The program's version: written here once. The version block of tarvic.rc, CMake's project
// version (and with it the packages) and the helper programs' --version all take it from
// these four numbers.
#pragma once

#define TARVIC_VERSION_MAJOR 1
#define TARVIC_VERSION_MINOR 0
#define TARVIC_VERSION_PATCH 0
#define TARVIC_VERSION_TWEAK 1

#define TARVIC_VERSION_STR_(x) #x
#define TARVIC_VERSION_STR(x) TARVIC_VERSION_STR_(x)

#define TARVIC_VERSION \
    TARVIC_VERSION_MAJOR, TARVIC_VERSION_MINOR, TARVIC_VERSION_PATCH, TARVIC_VERSION_TWEAK
// "1, 0, 0, 1", as the version block has always shown it.
#define TARVIC_VERSION_TEXT                                                \
    TARVIC_VERSION_STR(TARVIC_VERSION_MAJOR)                               \
    ", " TARVIC_VERSION_STR(TARVIC_VERSION_MINOR) ", " TARVIC_VERSION_STR( \
        TARVIC_VERSION_PATCH) ", " TARVIC_VERSION_STR(TARVIC_VERSION_TWEAK)
// "1.0.0.1", as --version and the packages write it.
#define TARVIC_VERSION_DOTTED                                            \
    TARVIC_VERSION_STR(TARVIC_VERSION_MAJOR)                             \
    "." TARVIC_VERSION_STR(TARVIC_VERSION_MINOR) "." TARVIC_VERSION_STR( \
        TARVIC_VERSION_PATCH) "." TARVIC_VERSION_STR(TARVIC_VERSION_TWEAK)

#define TARVIC_FILE_DESCRIPTION "tarvic MFC Application"
#define TARVIC_INTERNAL_NAME "tarvic"
#define TARVIC_ORIGINAL_FILENAME "tarvic.EXE"
#define TARVIC_PRODUCT_NAME "tarvic Application"
#define TARVIC_COPYRIGHT "Copyright (C) 2026 the tarvic developers"
