// The program's version, written once: the version record of Kelvane.exe and kelvanectl's
// --version take it from here, and the packages read it from the version record.
#pragma once

#define KELVANE_VERSION_MAJOR 1
#define KELVANE_VERSION_MINOR 0
#define KELVANE_VERSION_BUILD 0
#define KELVANE_VERSION_REVISION 1

#define KELVANE_TEXT_(x) #x
#define KELVANE_TEXT(x) KELVANE_TEXT_(x)
// "1.0.0.1", and "1, 0, 0, 1" as the version record's text values have it.
#define KELVANE_VERSION_TEXT                                                                       \
    KELVANE_TEXT(KELVANE_VERSION_MAJOR)                                                            \
    "." KELVANE_TEXT(KELVANE_VERSION_MINOR) "." KELVANE_TEXT(                                      \
        KELVANE_VERSION_BUILD) "." KELVANE_TEXT(KELVANE_VERSION_REVISION)
#define KELVANE_VERSION_COMMAS                                                                     \
    KELVANE_TEXT(KELVANE_VERSION_MAJOR)                                                            \
    ", " KELVANE_TEXT(KELVANE_VERSION_MINOR) ", " KELVANE_TEXT(                                    \
        KELVANE_VERSION_BUILD) ", " KELVANE_TEXT(KELVANE_VERSION_REVISION)
