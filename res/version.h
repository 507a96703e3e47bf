// Version values of the program, used by the version block of tarvic.rc.
#pragma once

#define TARVIC_VERSION 1, 0, 0, 1
#define TARVIC_VERSION_TEXT "1, 0, 0, 1"
#define TARVIC_FILE_DESCRIPTION "tarvic MFC Application"
#define TARVIC_INTERNAL_NAME "tarvic"
#define TARVIC_ORIGINAL_FILENAME "tarvic.EXE"
#define TARVIC_PRODUCT_NAME "tarvic Application"
#define TARVIC_COPYRIGHT "Copyright (C) 2026 the tarvic developers"
