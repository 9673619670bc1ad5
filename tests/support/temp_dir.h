#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zarvik::testing {

// A UTF-8 path as the file system takes it.
inline std::filesystem::path native(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// A scratch folder removed with the test.
class TempDir {
public:
    TempDir() {
        // Unique by time and a counter, made with create_directory's own check, so it
        // works the same under Windows.
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (unsigned attempt = 0;; ++attempt) {
            path_ = std::filesystem::temp_directory_path() /
                    ("zarvik-test-" + std::to_string(stamp) + "-" + std::to_string(counter.fetch_add(1)));
            if (std::filesystem::create_directory(path_) || attempt > 100) break;
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // UTF-8, as the programs take paths.
    std::string file(const std::string& name) const {
        const std::u8string p = (path_ / std::filesystem::path(std::u8string(name.begin(), name.end()))).u8string();
        return std::string(p.begin(), p.end());
    }
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(native(file(name)), std::ios::binary) << content;
        return file(name);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(native(path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

#if !defined(_WIN32)
// Runs a shell command; returns its exit status and fills `output` with stdout+stderr.
inline int run_command(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
    const int status = ::pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

}  // namespace zarvik::testing
