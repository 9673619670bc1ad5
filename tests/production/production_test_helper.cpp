// What the tests start several times at once, each a process of its own:
//   production_test_helper take COUNTER N OUT   takes N numbers, one a line into OUT
//   production_test_helper append LOG N TAG     appends N long lines naming TAG
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <variant>

#include "platform/durable_file.h"
#include "production/serial_counter.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "platform/text_win.h"
#endif

int main(int argc, char** argv) {
#if defined(_WIN32)
    // The arguments in UTF-8, as the code takes paths, whatever the system's code page.
    int wide_count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &wide_count);
    std::vector<std::string> utf8;
    for (int i = 0; i < wide_count; ++i) utf8.push_back(zarvik::win::narrow(wide[i]));
    ::LocalFree(wide);
    std::vector<char*> pointers;
    for (std::string& a : utf8) pointers.push_back(a.data());
    argc = wide_count;
    argv = pointers.data();
#endif
    if (argc != 5) return 2;
    const std::string mode = argv[1];
    const int count = std::atoi(argv[3]);
    if (mode == "take") {
        zarvik::SerialCounter counter(argv[2], std::nullopt);
        std::ofstream out(std::filesystem::path(std::u8string(argv[4], argv[4] + std::strlen(argv[4]))));
        for (int i = 0; i < count; ++i) {
            const auto taken = counter.take([](std::uint64_t) { return true; });
            if (const auto* e = std::get_if<zarvik::CounterError>(&taken)) {
                std::fprintf(stderr, "%s\n", e->text().c_str());
                return 1;
            }
            out << std::get<std::uint64_t>(taken) << '\n';
        }
        return out.good() ? 0 : 1;
    }
    if (mode == "append") {
        for (int i = 0; i < count; ++i) {
            // Long enough to span several blocks of the file: a line cut or mixed with
            // another process's shows.
            const std::string tag = argv[4];
            const std::string line = tag + " " + std::to_string(i) + " " + std::string(6000, tag[0]) + "\n";
            if (const auto error = zarvik::append_line_durably(argv[2], line)) {
                std::fprintf(stderr, "%s\n", error->c_str());
                return 1;
            }
        }
        return 0;
    }
    return 2;
}
