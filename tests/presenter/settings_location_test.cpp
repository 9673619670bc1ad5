#include "presenter/settings_location.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

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

TEST(SettingsLocation, APortableCopyKeepsItsOwnFileAndAnyOtherCopyThePerUserOne) {
    const std::string work = "work", exe = "exe", user = "user";
    struct Case {
        const char* what;
        std::set<std::string> present;
        bool portable;
        std::string folder;
        bool found;
    };
    const Case cases[] = {
        {"the working folder's file comes first", {ini(work), ini(exe), ini(user)}, true, work, true},
        {"portable: its own file, not the installed copy's", {ini(exe), ini(user)}, true, exe, true},
        {"portable, an installed copy's file per user: made beside the program", {ini(user)}, true, exe, false},
        {"portable, no file anywhere: made beside the program", {}, true, exe, false},
        {"unmarked, a file beside it from an older unpacked copy", {ini(exe), ini(user)}, false, exe, true},
        {"installed: the per-user file", {ini(user)}, false, user, true},
        {"installed, no file anywhere: made per user", {}, false, user, false},
    };
    for (const Case& c : cases) {
        const SettingsPlaces places{work, exe, user, c.portable};
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

void set_environment(const char* name, const std::string& value) {
#if defined(_WIN32)
    const std::wstring wide_name(name, name + std::strlen(name));
    const std::filesystem::path wide_value = testing::native(value);
    _wputenv_s(wide_name.c_str(), wide_value.wstring().c_str());
#else
    if (value.empty()) {
        ::unsetenv(name);
    } else {
        ::setenv(name, value.c_str(), 1);
    }
#endif
}

// The real file system and environment: the program's folder as the .zip leaves it
// (with the marker), as an installation leaves it, and unmarked; an installed copy's
// settings are already in the per-user folder.
class SettingsHere : public ::testing::Test {
protected:
#if defined(_WIN32)
    static constexpr const char* kPerUserVariable = "APPDATA";
    static constexpr const char* kPerUserName = "Zarvik";
#else
    static constexpr const char* kPerUserVariable = "XDG_CONFIG_HOME";
    static constexpr const char* kPerUserName = "zarvik";
#endif
    void SetUp() override {
        before_ = std::filesystem::current_path();
        const char* variable = std::getenv(kPerUserVariable);
        variable_before_ = variable != nullptr ? variable : "";
        for (const char* folder : {"work", "prog", "config"}) std::filesystem::create_directories(root_.path() / folder);
        std::filesystem::create_directories(root_.path() / "config" / kPerUserName);
        root_.write(std::string("config/") + kPerUserName + "/Zarvik.ini", "Fosc = 12\r\ntime_out = 7\r\n");
        set_environment(kPerUserVariable, root_.file("config"));
        std::filesystem::current_path(root_.path() / "work");
    }
    void TearDown() override {
        std::filesystem::current_path(before_);
        set_environment(kPerUserVariable, variable_before_);
    }
    std::string prog() const { return root_.file("prog"); }
    std::string exe() const { return root_.file("prog/zarvik.exe"); }
    std::string per_user() const { return root_.file(std::string("config/") + kPerUserName); }
    static std::filesystem::path same(const std::string& folder) { return std::filesystem::path(testing::native(folder)); }

    testing::TempDir root_;
    std::filesystem::path before_;
    std::string variable_before_;
};

TEST_F(SettingsHere, APortableCopyMakesItsOwnFileAndLeavesThePerUserOneAlone) {
    root_.write(std::string("prog/") + kPortableMarkerName, "");
    const SettingsLocation got = locate_settings_here(exe());
    EXPECT_EQ(same(got.folder), same(prog()));
    EXPECT_FALSE(got.found);
    // Nothing is left behind by the check that the folder is writable: the marker alone.
    const auto entries = std::distance(std::filesystem::directory_iterator(testing::native(prog())),
                                       std::filesystem::directory_iterator());
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(load_settings(got.folder).timeout, "5") << "the installed copy's settings were taken";
}

TEST_F(SettingsHere, AnUnmarkedOrInstalledCopyUsesThePerUserFile) {
    struct Case {
        const char* what;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"unmarked", {}},
        {"installed, with a marker copied in by hand", {"prog/Uninstall.exe", std::string("prog/") + kPortableMarkerName}},
    };
    for (const Case& c : cases) {
        for (const std::string& file : c.files) root_.write(file, "");
        const SettingsLocation got = locate_settings_here(exe());
        EXPECT_EQ(same(got.folder), same(per_user())) << c.what;
        EXPECT_TRUE(got.found) << c.what;
        EXPECT_EQ(load_settings(got.folder).timeout, "7") << c.what;
        EXPECT_FALSE(std::filesystem::exists(testing::native(prog() + kSep + "Zarvik.ini"))) << c.what;
    }
}

TEST_F(SettingsHere, AFileInTheWorkingFolderIsUsedAndRewrittenThere) {
    root_.write(std::string("prog/") + kPortableMarkerName, "");
    root_.write("work/Zarvik.ini", "Fosc = 16\r\ntime_out = 3\r\n");
    root_.write("prog/Zarvik.ini", "Fosc = 1\r\ntime_out = 1\r\n");
    const SettingsLocation got = locate_settings_here(exe());
    ASSERT_TRUE(got.found);
    EXPECT_EQ(load_settings(got.folder).fosc, "16");
    ASSERT_FALSE(save_settings(got.folder, {"20", "4"}).has_value());
    EXPECT_EQ(testing::read_file(root_.file("work/Zarvik.ini")), "Fosc\t = 20\r\ntime_out = 4\r\n");
    EXPECT_EQ(testing::read_file(root_.file("prog/Zarvik.ini")), "Fosc = 1\r\ntime_out = 1\r\n");
}

}  // namespace
}  // namespace zarvik
