// Force-included into one source by src/CMakeLists.txt for MinGW builds only: maps the
// POSIX locale calls it uses onto the Windows C runtime's equivalents.
#pragma once
#include <locale.h>
#include <stdlib.h>
typedef _locale_t locale_t;
#ifndef LC_ALL_MASK
#define LC_ALL_MASK LC_ALL
#endif
static inline locale_t zarvik_newlocale(int, const char* name, locale_t) { return _create_locale(LC_ALL, name); }
#define newlocale zarvik_newlocale
#define strtod_l _strtod_l
