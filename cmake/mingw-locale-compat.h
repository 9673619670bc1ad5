// Force-included into one source by src/CMakeLists.txt for MinGW builds only: maps the
// POSIX locale calls it uses onto the Windows C runtime's equivalents. The runtime's
// _strtod_l does not read "inf" or "nan", which C's strtod does; those are read here.
#pragma once
#include <locale.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
typedef _locale_t locale_t;
#ifndef LC_ALL_MASK
#define LC_ALL_MASK LC_ALL
#endif
static inline locale_t zarvik_newlocale(int, const char* name, locale_t) { return _create_locale(LC_ALL, name); }
static inline double zarvik_strtod_l(const char* s, char** end, locale_t locale) {
    const char* p = s;
    double sign = 1.0;
    if (*p == '+' || *p == '-') sign = *p++ == '-' ? -1.0 : 1.0;
    if (_strnicmp(p, "inf", 3) == 0) {
        if (end != NULL) *end = (char*)(p + (_strnicmp(p, "infinity", 8) == 0 ? 8 : 3));
        return sign * HUGE_VAL;
    }
    if (_strnicmp(p, "nan", 3) == 0) {
        if (end != NULL) *end = (char*)(p + 3);
        return sign * NAN;
    }
    return _strtod_l(s, end, locale);
}
#define newlocale zarvik_newlocale
#define strtod_l zarvik_strtod_l
