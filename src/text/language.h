#pragma once

#include <optional>
#include <string>
#include <string_view>

// Marks a text for translation where it is defined; the face translates it where it
// shows it, with tr_text(context, text). lupdate reads this as QT_TRANSLATE_NOOP.
#define ZARVIK_TEXT(context, text) text

namespace zarvik {

// Russian is the program's own language; English is the other one it speaks.
enum class Language { Russian, English };

// The language every text of the core and the command line is given in from now on.
// Set once at start-up, before any operation runs.
void set_language(Language language);
Language current_language();

// "ru" and "en"; also "ru_RU.UTF-8" and the like. Nothing for any other text.
std::optional<Language> language_from_code(std::string_view code);

// The user's language from the environment as gettext reads it: the first entry of
// LANGUAGE, then LC_ALL, LC_MESSAGES, LANG. Russian for Russian and when none names a
// language (unset, C, POSIX); English for any other language.
Language language_from_environment();

// The language a program's command line asks for with --lang en|ru (or --lang=en),
// else the environment's. Read before anything else is parsed, so that the help is
// printed in it too.
Language language_for_arguments(int argc, const char* const* argv);
// The same with `otherwise` where --lang says nothing: the system's language as the
// platform states it (see platform/system_language.h).
Language language_for_arguments(int argc, const char* const* argv, Language otherwise);

// `source` in the current language: its translation from the project's .ts files, or
// `source` itself where there is none. The texts are marked for lupdate, which reads
// `tr_text` as it reads QCoreApplication::translate.
const char* tr_text(const char* context, const char* source);
std::string tr_string(const char* context, const char* source);

}  // namespace zarvik
