// The core and the command line speak Russian or English, from the .ts files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "text/language.h"
#include "programmer/status_texts.h"

namespace zarvik {
namespace {

struct LanguageGuard {
    ~LanguageGuard() { set_language(Language::Russian); }
};

OperationOutcome outcome(Operation op, MemoryKind memory, OperationOutcome::Result result) {
    OperationOutcome o;
    o.operation = op;
    o.memory = memory;
    o.result = result;
    o.elapsed_ms = 1234;
    o.link_failure = TransactionFailure{'b', 0x1C00, 128, 100, false, false};
    o.refusal = Refusal::WrongDevice;
    o.device_name = "ATmega8/88";
    o.device_loader_start = 0x1C00;
    o.selected_name = "ATmega328";
    o.fosc_text = "16";
    o.timeout_text = "2";
    return o;
}

TEST(Language, EveryStatusTextHasBothLanguagesAndNoneIsEmpty) {
    LanguageGuard guard;
    using R = OperationOutcome::Result;
    const std::vector<OperationOutcome> cases{
        outcome(Operation::Erase, MemoryKind::Flash, R::Success),
        outcome(Operation::Write, MemoryKind::Eeprom, R::Success),
        outcome(Operation::Configure, MemoryKind::Flash, R::Success),
        outcome(Operation::Read, MemoryKind::Flash, R::LinkFailure),
        outcome(Operation::Write, MemoryKind::Flash, R::Refused),
        outcome(Operation::Erase, MemoryKind::Eeprom, R::Interrupted),
    };
    for (const auto& o : cases) {
        set_language(Language::Russian);
        const std::string russian = status_text(o);
        set_language(Language::English);
        const std::string english = status_text(o);
        EXPECT_FALSE(russian.empty());
        EXPECT_FALSE(english.empty());
        EXPECT_NE(russian, english) << russian;
        EXPECT_FALSE(std::regex_search(english, std::regex("[\\xD0\\xD1]"))) << "Cyrillic left in: " << english;
    }
    set_language(Language::English);
    EXPECT_EQ(status_text(cases[0]), "Flash erased.  Time: 1234 ms");
    EXPECT_EQ(status_text(cases[4]), "The device is an ATmega8/88 (loader at 1C00), not an ATmega328: nothing was sent to the device");
    EXPECT_EQ(phase_text(Phase::Erasing, MemoryKind::Eeprom), "Erasing EEPROM");
    EXPECT_EQ(port_count_text(3), "3 serial ports available");
    EXPECT_STREQ(tr_text("status", kPortNotOpen), "No serial port is open");
    set_language(Language::Russian);
    EXPECT_EQ(status_text(cases[0]), "Стирание flash закончено!  Время стирания: 1234 ms");
    EXPECT_EQ(port_count_text(3), "Доступно 3 COM порта");
}

#ifdef ZARVIK_TS_EN
TEST(Language, EveryTextInTheTranslationFilesIsTranslated) {
    // A text added to the sources and not translated would show up in the wrong
    // language; scripts/update_translations.sh collects them, Linguist translates them.
    for (const char* path : {ZARVIK_TS_EN}) {
        std::ifstream in(path);
        std::stringstream ts;
        ts << in.rdbuf();
        const std::string text = ts.str();
        ASSERT_FALSE(text.empty()) << path;
        const std::regex unfinished("<source>([^<]*)</source>\\s*<translation type=\"unfinished\">");
        for (auto it = std::sregex_iterator(text.begin(), text.end(), unfinished); it != std::sregex_iterator(); ++it) {
            ADD_FAILURE() << path << ": not translated: " << (*it)[1];
        }
    }
}

#endif

void set_variable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value) ::setenv(name, value, 1); else ::unsetenv(name);
#endif
}

TEST(Language, ChosenByOptionThenEnvironment) {
    struct Case { std::vector<const char*> args; const char* language_env; const char* lang_env; Language expected; };
    const Case cases[] = {
        {{"p", "--lang", "en"}, nullptr, "ru_RU.UTF-8", Language::English},
        {{"p", "--lang=ru"}, "en", "en_US.UTF-8", Language::Russian},
        {{"p"}, nullptr, "en_US.UTF-8", Language::English},
        {{"p"}, nullptr, "ru_RU.UTF-8", Language::Russian},
        {{"p"}, "en:ru", "ru_RU.UTF-8", Language::English},
        {{"p"}, nullptr, "C.UTF-8", Language::Russian},
        {{"p"}, nullptr, nullptr, Language::Russian},
        {{"p"}, nullptr, "de_DE.UTF-8", Language::English},
    };
    for (const Case& c : cases) {
        set_variable("LC_ALL", nullptr);
        set_variable("LC_MESSAGES", nullptr);
        set_variable("LANGUAGE", c.language_env);
        set_variable("LANG", c.lang_env);
        EXPECT_EQ(language_for_arguments(static_cast<int>(c.args.size()), c.args.data()), c.expected)
            << (c.lang_env ? c.lang_env : "(no LANG)");
    }
}

}  // namespace
}  // namespace zarvik
