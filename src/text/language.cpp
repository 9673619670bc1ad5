#include "text/language.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "text/translation_table.h"

namespace zarvik {
namespace {

std::atomic<Language> g_language{Language::Russian};

using Index = std::map<std::pair<std::string_view, std::string_view>, const char*>;

const Index& index_for(Language language) {
    static const auto build = [](const char* code) {
        Index index;
        for (std::size_t t = 0; t < translations::kTableCount; ++t) {
            const auto& table = translations::kTables[t];
            if (std::strcmp(table.language, code) != 0) continue;
            for (std::size_t i = 0; i < table.count; ++i) {
                const auto& m = table.messages[i];
                index.emplace(std::pair<std::string_view, std::string_view>(m.context, m.source), m.translation);
            }
        }
        return index;
    };
    static const Index english = build("en");
    static const Index russian = build("ru");
    return language == Language::English ? english : russian;
}

}  // namespace

void set_language(Language language) { g_language.store(language); }

Language current_language() { return g_language.load(); }

std::optional<Language> language_from_code(std::string_view code) {
    const std::string_view two = code.substr(0, 2);
    if (code.size() > 2 && code[2] != '_' && code[2] != '-' && code[2] != '.' && code[2] != '@') return std::nullopt;
    if (two == "ru") return Language::Russian;
    if (two == "en") return Language::English;
    return std::nullopt;
}

Language language_from_environment() {
    auto named = [](const char* variable) -> std::string_view {
        const char* value = std::getenv(variable);
        return value != nullptr ? std::string_view(value) : std::string_view();
    };
    std::string_view code = named("LANGUAGE");
    code = code.substr(0, code.find(':'));
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (!code.empty()) break;
        code = named(variable);
    }
    if (code.empty() || code == "C" || code == "POSIX" || code.substr(0, 2) == "C.") return Language::Russian;
    return code.substr(0, 2) == "ru" ? Language::Russian : Language::English;
}

Language language_for_arguments(int argc, const char* const* argv, Language otherwise) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::optional<Language> asked;
        if (arg == "--lang" && i + 1 < argc) asked = language_from_code(argv[i + 1]);
        if (arg.substr(0, 7) == "--lang=") asked = language_from_code(arg.substr(7));
        if (asked) return *asked;
    }
    return otherwise;
}

Language language_for_arguments(int argc, const char* const* argv) {
    return language_for_arguments(argc, argv, language_from_environment());
}

const char* tr_text(const char* context, const char* source) {
    const Index& index = index_for(current_language());
    const auto found = index.find({context, source});
    return found != index.end() ? found->second : source;
}

std::string tr_string(const char* context, const char* source) { return tr_text(context, source); }

}  // namespace zarvik
