#include "presenter/settings_file.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <system_error>

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace zarvik {
namespace {

TEST(SettingsFile, ValuesAreLookedUpAsTheyAlwaysWere) {
    struct Case { const char* what; std::string text; const char* fosc; const char* timeout; };
    const Case cases[] = {
        {"as written with the defaults", "Fosc\t = 8\r\ntime_out = 5\r\n", "8", "5"},
        {"no spaces", "Fosc=16\r\ntime_out=3\r\n", "16", "3"},
        {"blanks trimmed", "Fosc   =   7.3728   \r\n", "7.3728", ""},
        {"a TAB ends a value", "Fosc = 8\tMHz\r\n", "8", ""},
        {"inner spaces stay", "Fosc = 12 MHz\r\n", "12 MHz", ""},
        {"either order, first occurrence wins", "time_out = 9\r\nXFosc = 3\r\nFosc = 8\r\n", "3", "9"},
        {"only one key", "time_out = 9\r\n", "", "9"},
        {"last line without CR LF", "Fosc = 8\r\ntime_out = 4", "8", "4"},
        // A value runs to its line's end in UTF-8 (the original cut it at the first byte
        // of 0x80 and above); an older file's Windows-1251 is read as that.
        {"UTF-8 to the line's end", "Fosc = 16\xD0\x9C\xD0\x93\xD1\x86\r\n", "16МГц", ""},
        {"an older file's Windows-1251", "Fosc = 16\r\ntime_out = \xC6" "2\r\n", "16", "Ж2"},
        {"key without '=' anywhere after it", "time_out = 1\r\nFosc 8\r\n", "", "1"},
        {"a zero byte ends the text", std::string("Fosc = 8\r\n\0time_out = 4\r\n", 25), "8", ""},
        {"empty file means the defaults", "", "8", "5"},
    };
    for (const Case& c : cases) {
        const LoaderSettings s = parse_settings(c.text);
        EXPECT_EQ(s.fosc, c.fosc) << c.what;
        EXPECT_EQ(s.timeout, c.timeout) << c.what;
    }
}

TEST(SettingsFile, TheLastChoicesComeAfterTheTwoOriginalLinesAndReadBackWhole) {
    LoaderSettings s;
    s.fosc = "16";
    s.timeout = "2";
    s.model = "ATmega328";
    s.port = "COM7";
    s.speed = "115200";
    s.flash_file = "C:\\Прошивки\\a=b Fosc time_out\\blink.hex";  // '=', the old keys, Cyrillic
    s.eeprom_file = "/home/техник/data.eep";
    s.reset = "dtr";
    const std::string text = format_settings(s);
    EXPECT_TRUE(text.starts_with("Fosc\t = 16\r\ntime_out = 2\r\nlast_model = ATmega328\r\n")) << text;
    EXPECT_TRUE(text.ends_with("\r\nreset = dtr\r\n")) << text;
    EXPECT_EQ(parse_settings(text), s);
    EXPECT_GT(text.size(), 25u);

    // Longer than the 299 bytes the original read, and padded before the new lines.
    LoaderSettings long_one = s;
    long_one.flash_file = "/tmp/" + std::string(400, 'x') + "/blink.hex";
    testing::TempDir dir;
    ASSERT_FALSE(save_settings(dir.path().string(), long_one));
    EXPECT_GT(testing::read_file(dir.file("Zarvik.ini")).size(), 299u);
    EXPECT_EQ(load_settings(dir.path().string()), long_one);

    // An older file has no such lines: nothing was chosen. A key is a line's own only.
    const LoaderSettings old = parse_settings("Fosc\t = 8\r\ntime_out = 5\r\n");
    EXPECT_EQ(old, LoaderSettings{});
    EXPECT_EQ(parse_settings("Fosc = 8\r\nnot_last_port = COM1\r\nlast_port_x = COM2\r\n").port, "");
    // No new key holds an old one's name, which is looked up anywhere in the file.
    for (const char* key : {kModelKey, kPortKey, kSpeedKey, kFlashFileKey, kEepromFileKey, kResetKey}) {
        EXPECT_EQ(std::string(key).find("Fosc"), std::string::npos) << key;
        EXPECT_EQ(std::string(key).find("time_out"), std::string::npos) << key;
    }
    // A name with a line break in it cannot be a line's value: it is not kept.
    s.flash_file = "a\nb.hex";
    EXPECT_EQ(parse_settings(format_settings(s)).flash_file, "");
}

TEST(SettingsFile, FirstRunCreatesTheDefaultsAndExitRewritesThem) {
    testing::TempDir dir;
    const LoaderSettings first = load_settings(dir.path().string());
    EXPECT_EQ(first.fosc, "8");
    const std::string written = testing::read_file(dir.file("Zarvik.ini"));
    EXPECT_EQ(written, "Fosc\t = 8\r\ntime_out = 5\r\n");
    EXPECT_EQ(written.size(), 25u);

    ASSERT_FALSE(save_settings(dir.path().string(), LoaderSettings{"16", ""}));
    EXPECT_EQ(testing::read_file(dir.file("Zarvik.ini")), "Fosc\t = 16\r\ntime_out = \r\n");

    const std::string big(100000, 'x');
    dir.write("Zarvik.ini", big + "\r\nFosc = 20\r\ntime_out = 2\r\n");  // read whole, whatever its length
    EXPECT_EQ(load_settings(dir.path().string()).fosc, "20");
}

// Loads the settings from a folder whose Zarvik.ini `make` has made unreadable, and
// checks that the defaults stand, the reason is told and the file is left as it was.
void expect_unreadable_file_kept(const char* what, const testing::TempDir& dir) {
    std::error_code ec;
    const auto before = std::filesystem::symlink_status(dir.file("Zarvik.ini"), ec).type();
    std::string reason;
    const LoaderSettings s = load_settings(dir.path().string(), &reason);
    EXPECT_EQ(s.fosc, "8") << what;
    EXPECT_EQ(s.timeout, "5") << what;
    EXPECT_FALSE(reason.empty()) << what;
    EXPECT_EQ(std::filesystem::symlink_status(dir.file("Zarvik.ini"), ec).type(), before) << what;
    EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere.ini"))) << what;
}

TEST(SettingsFile, AFileThatIsThereButCannotBeReadIsNeverReplaced) {
    struct Case {
        const char* what;
        std::function<void(const testing::TempDir&)> make;
    };
    const Case cases[] = {
        {"a folder by that name", [](const testing::TempDir& d) { std::filesystem::create_directory(d.file("Zarvik.ini")); }},
#if !defined(_WIN32)  // symbolic links need privileges on Windows, and Wine has none
        {"a link to nowhere",
         [](const testing::TempDir& d) { std::filesystem::create_symlink(d.file("elsewhere.ini"), d.file("Zarvik.ini")); }},
#endif
    };
    for (const Case& c : cases) {
        testing::TempDir dir;
        c.make(dir);
        expect_unreadable_file_kept(c.what, dir);
    }
    testing::TempDir missing;
    std::string reason;
    (void)load_settings(missing.path().string(), &reason);
    EXPECT_TRUE(reason.empty());
    EXPECT_EQ(testing::read_file(missing.file("Zarvik.ini")), "Fosc\t = 8\r\ntime_out = 5\r\n");
}

TEST(SettingsFile, AFileWithoutReadPermissionIsNeverReplaced) {
    testing::TempDir dir;
    dir.write("Zarvik.ini", "Fosc\t = 16\r\ntime_out = 2\r\n");
    ::chmod(dir.file("Zarvik.ini").c_str(), 0);
    if (std::ifstream(dir.file("Zarvik.ini")).good()) {
        GTEST_SKIP() << "this user reads a file whatever its permissions (root): nothing to show";
    }
    expect_unreadable_file_kept("a file without read permission", dir);
    ::chmod(dir.file("Zarvik.ini").c_str(), 0600);
    EXPECT_EQ(testing::read_file(dir.file("Zarvik.ini")), "Fosc\t = 16\r\ntime_out = 2\r\n");
}

TEST(SettingsFile, AnUnwritableFolderIsReportedNotFatal) {
    const LoaderSettings s = load_settings("/proc/zarvik-no-such-folder");
    EXPECT_EQ(s.fosc, "8");  // the defaults stand
    EXPECT_TRUE(save_settings("/proc/zarvik-no-such-folder", s));
}

}  // namespace
}  // namespace zarvik
