#include "text/number_text.h"

#include <gtest/gtest.h>

namespace zarvik {
namespace {

TEST(NumberText, RussianCountedWordsTakeTheFormOfTheirNumber) {
    struct Case {
        const char* number;
        PluralForm russian;
        PluralForm english;
    };
    const Case cases[] = {
        {"1", PluralForm::One, PluralForm::One},       {"2", PluralForm::Few, PluralForm::Many},
        {"4", PluralForm::Few, PluralForm::Many},      {"5", PluralForm::Many, PluralForm::Many},
        {"0", PluralForm::Many, PluralForm::Many},     {"11", PluralForm::Many, PluralForm::Many},
        {"12", PluralForm::Many, PluralForm::Many},    {"14", PluralForm::Many, PluralForm::Many},
        {"21", PluralForm::One, PluralForm::Many},     {"22", PluralForm::Few, PluralForm::Many},
        {"111", PluralForm::Many, PluralForm::Many},   {"101", PluralForm::One, PluralForm::Many},
        {"0,5", PluralForm::Few, PluralForm::Many},    {"1.5", PluralForm::Few, PluralForm::Many},
        {"2.0", PluralForm::Few, PluralForm::Many},    {"1.0", PluralForm::Few, PluralForm::Many},
        {"12.52", PluralForm::Few, PluralForm::Many},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(plural_form(c.number, Language::Russian), c.russian) << c.number;
        EXPECT_EQ(plural_form(c.number, Language::English), c.english) << c.number;
    }
}

TEST(NumberText, TheDecimalSeparatorIsTheLanguages) {
    EXPECT_EQ(localized_number("7.3728", Language::Russian), "7,3728");
    EXPECT_EQ(localized_number("7,3728", Language::English), "7.3728");
    EXPECT_EQ(localized_number("16", Language::Russian), "16");
    // Only between digits: a sentence's full stop or a list's comma stays.
    EXPECT_EQ(localized_number("8, 16.", Language::Russian), "8, 16.");
    EXPECT_EQ(format_number(12.5196, 2, Language::Russian), "12,52");
    EXPECT_EQ(format_number(12.5, 2, Language::English), "12.5");
    EXPECT_EQ(format_number(3.0, 2, Language::Russian), "3");
}

}  // namespace
}  // namespace zarvik
