#include "presenter/settings_location.h"

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "presenter/settings_file.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

#if defined(_WIN32)
constexpr const char* kSep = "\\";
#else
constexpr const char* kSep = "/";
#endif

std::string ini(const std::string& folder) { return folder + kSep + "Zarvik.ini"; }

TEST(SettingsLocation, TheFirstFolderThatHoldsTheFileWinsElseTheProgramsOrThePerUserOne) {
    const std::string work = "work", exe = "exe", user = "user";
    struct Case {
        const char* what;
        std::set<std::string> present;
        bool exe_takes;
        std::string folder;
        bool found;
    };
    const Case cases[] = {
        {"in the working folder", {ini(work), ini(exe), ini(user)}, true, work, true},
        {"beside the program, not in the working folder", {ini(exe), ini(user)}, false, exe, true},
        {"beside an installed program still counts", {ini(exe)}, false, exe, true},
        {"only the per-user one", {ini(user)}, true, user, true},
        {"none, a portable folder: created beside the program", {}, true, exe, false},
        {"none, an installation: created per user", {}, false, user, false},
    };
    for (const Case& c : cases) {
        const SettingsPlaces places{work, exe, user, c.exe_takes};
        const SettingsLocation got =
            locate_settings(places, [&](const std::string& path) { return c.present.count(path) > 0; });
        EXPECT_EQ(got.folder, c.folder) << c.what;
        EXPECT_EQ(got.found, c.found) << c.what;
    }
}

TEST(SettingsLocation, WithNoPerUserFolderAndAnInstallationTheWorkingFolderStandsIn) {
    const SettingsPlaces places{"work", "exe", "", false};
    const SettingsLocation got = locate_settings(places, [](const std::string&) { return false; });
    EXPECT_EQ(got.folder, "work");
    EXPECT_FALSE(got.found);
}

TEST(SettingsLocation, PerUserFolderFollowsEachSystemsRule) {
    struct Case {
        const char* what;
        std::map<std::string, std::string> env;
        bool windows;
        std::string folder;
    };
    const Case cases[] = {
        {"APPDATA on Windows", {{"APPDATA", "C:\\Users\\Иван\\AppData\\Roaming"}, {"HOME", "/h"}}, true,
         "C:\\Users\\Иван\\AppData\\Roaming\\Zarvik"},
        {"APPDATA with a trailing backslash", {{"APPDATA", "C:\\Roaming\\"}}, true, "C:\\Roaming\\Zarvik"},
        {"no APPDATA: nothing", {{"HOME", "/h"}}, true, ""},
        {"XDG_CONFIG_HOME", {{"XDG_CONFIG_HOME", "/x/conf"}, {"HOME", "/h"}}, false, "/x/conf/zarvik"},
        {"a relative XDG_CONFIG_HOME is ignored", {{"XDG_CONFIG_HOME", "conf"}, {"HOME", "/h"}}, false,
         "/h/.config/zarvik"},
        {"HOME/.config otherwise", {{"HOME", "/home/u/"}}, false, "/home/u/.config/zarvik"},
        {"neither", {}, false, ""},
    };
    for (const Case& c : cases) {
        const auto lookup = [&](const char* name) -> const char* {
            const auto it = c.env.find(name);
            return it == c.env.end() ? nullptr : it->second.c_str();
        };
        EXPECT_EQ(per_user_settings_folder(lookup, c.windows), c.folder) << c.what;
    }
}

TEST(SettingsLocation, AnInstallationIsKnownByItsUninstallerOrItsPlace) {
    const auto nothing = [](const std::string&) { return false; };
    const std::string portable = std::string("D:") + kSep + "tools" + kSep + "zarvik";
    EXPECT_FALSE(is_installation_folder(portable, nothing));
    EXPECT_TRUE(is_installation_folder(portable, [&](const std::string& p) { return p == portable + kSep + "Uninstall.exe"; }));
    const std::string bin = portable + kSep + "bin";
    EXPECT_TRUE(is_installation_folder(bin, [&](const std::string& p) { return p == portable + kSep + "Uninstall.exe"; }));
    EXPECT_FALSE(is_installation_folder(bin, [&](const std::string& p) { return p == bin + kSep + "bin" + kSep + "Uninstall.exe"; }));
    EXPECT_FALSE(is_installation_folder("", nothing));
#if defined(_WIN32)
    EXPECT_TRUE(is_installation_folder("c:\\program files\\Zarvik", nothing, "C:\\Program Files"));
    EXPECT_FALSE(is_installation_folder("C:\\Program Files Tools\\Zarvik", nothing, "C:\\Program Files"));
#else
    EXPECT_TRUE(is_installation_folder("/usr/bin", nothing));
    EXPECT_TRUE(is_installation_folder("/opt/zarvik/bin", nothing));
    EXPECT_FALSE(is_installation_folder("/usrlocal/zarvik", nothing));
    EXPECT_FALSE(is_installation_folder("/home/u/zarvik", nothing));
#endif
}

// The real file system: a portable folder, then the same folder made an installation.
class SettingsHere : public ::testing::Test {
protected:
    void SetUp() override {
        before_ = std::filesystem::current_path();
        std::filesystem::create_directories(root_.path() / "work");
        std::filesystem::create_directories(root_.path() / "prog");
        std::filesystem::current_path(root_.path() / "work");
    }
    void TearDown() override { std::filesystem::current_path(before_); }
    std::string prog() const { return root_.file("prog"); }
    std::string exe() const { return root_.file("prog/zarvik.exe"); }

    testing::TempDir root_;
    std::filesystem::path before_;
};

TEST_F(SettingsHere, AWritablePortableFolderGetsTheNewFile) {
    const SettingsLocation got = locate_settings_here(exe());
    EXPECT_EQ(std::filesystem::path(testing::native(got.folder)), std::filesystem::path(testing::native(prog())));
    EXPECT_FALSE(got.found);
    // Nothing is left behind by the check that the folder is writable.
    EXPECT_TRUE(std::filesystem::is_empty(testing::native(prog())));
}

TEST_F(SettingsHere, AFileInTheWorkingFolderIsUsedAndRewrittenThere) {
    root_.write("work/Zarvik.ini", "Fosc = 16\r\ntime_out = 3\r\n");
    root_.write("prog/Zarvik.ini", "Fosc = 1\r\ntime_out = 1\r\n");
    const SettingsLocation got = locate_settings_here(exe());
    ASSERT_TRUE(got.found);
    EXPECT_EQ(load_settings(got.folder).fosc, "16");
    ASSERT_FALSE(save_settings(got.folder, {"20", "4"}).has_value());
    EXPECT_EQ(testing::read_file(root_.file("work/Zarvik.ini")), "Fosc\t = 20\r\ntime_out = 4\r\n");
    EXPECT_EQ(testing::read_file(root_.file("prog/Zarvik.ini")), "Fosc = 1\r\ntime_out = 1\r\n");
}

TEST_F(SettingsHere, AnInstalledProgramsFolderIsLeftAlone) {
    root_.write("prog/Uninstall.exe", "");
    const SettingsLocation got = locate_settings_here(exe());
    EXPECT_NE(std::filesystem::path(testing::native(got.folder)), std::filesystem::path(testing::native(prog())));
    EXPECT_FALSE(std::filesystem::exists(testing::native(prog() + kSep + "Zarvik.ini")));
}

}  // namespace
}  // namespace zarvik
