#pragma once

#include "text/language.h"

namespace zarvik {

// The user's language as the system states it, for every program and window: on
// Windows the user interface language (GetUserDefaultUILanguage), which is what a
// Windows user chooses and sees everywhere else; elsewhere the environment as gettext
// reads it (LANGUAGE, LC_ALL, LC_MESSAGES, LANG). Russian for Russian, English for any
// other language.
Language system_language();

// A Windows language id (LANGID): its primary language, the low ten bits, decides.
// 0x0419 ru-RU and 0x0819 ru-MD are Russian; 0x0409 en-US, 0x0407 de-DE are English.
Language language_from_windows_id(unsigned short langid);

}  // namespace zarvik
