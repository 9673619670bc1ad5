// Loading a full 32 KB flash image from Intel HEX, beside srec_cat converting the
// same file to binary, in one run. Both are reported in MB/s of HEX text.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "memory/intel_hex_loader.h"
#include "memory/intel_hex_writer.h"
#include "memory/memory_image.h"

namespace {

const std::string& hex_file() {
    static const std::string path = [] {
        std::vector<std::uint8_t> bytes(zarvik::kFlashCapacity);
        std::mt19937 rng(42);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng() & 0x7F);  // never a trailing 0xFF
        char name[] = "/tmp/zarvik-bench-XXXXXX";
        const int fd = ::mkstemp(name);
        ::close(fd);
        std::ofstream(name, std::ios::binary) << zarvik::to_intel_hex(bytes);
        return std::string(name);
    }();
    return path;
}

std::int64_t file_size(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return static_cast<std::int64_t>(in.tellg());
}

void BM_ZarvikLoad(benchmark::State& state) {
    zarvik::FlashImage image;
    for (auto _ : state) {
        auto result = zarvik::load_intel_hex_file(hex_file(), image.span());
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(state.iterations() * file_size(hex_file()));
}
BENCHMARK(BM_ZarvikLoad)->Unit(benchmark::kMicrosecond);

void BM_SrecCat(benchmark::State& state) {
    const std::string command = std::string(ZARVIK_SREC_CAT) + " " + hex_file() + " -Intel -o /dev/null -Binary";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("srec_cat failed");
    }
    state.SetBytesProcessed(state.iterations() * file_size(hex_file()));
}
BENCHMARK(BM_SrecCat)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
