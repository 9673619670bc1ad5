#include "presenter/text_encoding.h"

#include <gtest/gtest.h>

namespace zarvik {
namespace {

TEST(TextEncoding, Windows1251AndUtf8MeetWithoutLoss) {
    struct Case {
        const char* what;
        std::string cp1251;
        std::string utf8;
    };
    const Case cases[] = {
        {"plain ASCII", "Fosc = 7.3728", "Fosc = 7.3728"},
        {"Cyrillic, both cases and Ё", "\xCF\xF0\xE8\xE2\xE5\xF2 \xA8\xB8", "Привет Ёё"},
        {"typographic signs", "\x85\xAB\xBB\xB9", "…«»№"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf8_from_cp1251(c.cp1251), c.utf8) << c.what;
        EXPECT_EQ(cp1251_from_utf8(c.utf8), c.cp1251) << c.what;
    }
    // What the code page lacks, either way.
    EXPECT_EQ(utf8_from_cp1251("\x98"), "\xEF\xBF\xBD");
    EXPECT_EQ(cp1251_from_utf8("日本 ok"), "?? ok");
    EXPECT_EQ(cp1251_from_utf8("\xFF\xD0"), "??");  // not UTF-8 at all
}

TEST(TextEncoding, HelpIsUtf8WhereItIsValidAndWindows1251Otherwise) {
    struct Case {
        const char* what;
        std::string bytes;
        std::string shown;
    };
    const Case cases[] = {
        {"UTF-8", "Справка", "Справка"},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBFHelp", "Help"},
        {"Windows-1251", "\xD1\xEF\xF0\xE0\xE2\xEA\xE0", "Справка"},
        {"an overlong form is not UTF-8", "\xC0\xAF", "АЇ"},
        {"a surrogate is not UTF-8", "\xED\xA0\x80", "н\u00A0Ђ"},
        {"a cut sequence is not UTF-8", "ok \xD0", "ok Р"},
        {"a zero byte ends it", std::string("shown\0hidden", 12), "shown"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(decode_help_text(c.bytes), c.shown) << c.what;
}

}  // namespace
}  // namespace zarvik
