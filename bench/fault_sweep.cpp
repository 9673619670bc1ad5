// The whole fault sweep: every byte the host sends in a short `write flash`, `write
// eeprom` and `configure 16 2` on every chip, dropped, sent twice, and with one bit
// flipped (drawn with the seed; every bit with --all-bits), on the real core running our loader, in simulated time. Prints
// per chip and operation how many runs broke which rule, and the CPU time taken.
// Ends with 1 when any run broke one.
//
//   fault_sweep [--quick | --samples N] [--all-bits] [--seed S] [--model ATmega328] [--operation flash|eeprom|configure]
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "support/fault_sweep.h"

using namespace zarvik;
using namespace zarvik::testing;

int main(int argc, char** argv) {
    std::optional<int> samples;
    unsigned seed = 22;
    bool all_bits = false;
    std::vector<std::string> models{"ATmega8", "ATmega88", "ATmega168", "ATmega328"};
    std::vector<SweepOperation> ops{SweepOperation::WriteFlash, SweepOperation::WriteEeprom, SweepOperation::Configure};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--samples" && has_value) {
            samples = std::atoi(argv[++i]);
        } else if (a == "--all-bits") {
            all_bits = true;
        } else if (a == "--quick") {
            samples = 3;
        } else if (a == "--seed" && has_value) {
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--model" && has_value) {
            models = {argv[++i]};
        } else if (a == "--operation" && has_value) {
            const std::string o = argv[++i];
            ops = {o == "flash" ? SweepOperation::WriteFlash : o == "eeprom" ? SweepOperation::WriteEeprom : SweepOperation::Configure};
        } else {
            std::fprintf(stderr, "usage: fault_sweep [--quick | --samples N] [--all-bits] [--seed S] [--model M] [--operation flash|eeprom|configure]\n");
            return 2;
        }
    }
    bool any = false;
    const std::clock_t start = std::clock();
    for (const auto& model : models) {
        FaultSweep sweep(model.c_str());
        if (!sweep.ok()) {
            std::fprintf(stderr, "%s: %s\n", model.c_str(), sweep.error().c_str());
            return 2;
        }
        for (SweepOperation op : ops) {
            const std::clock_t t0 = std::clock();
            const std::uint64_t length = sweep.clean_length(op);
            const auto clean = sweep.run_clean(op);
            SweepSummary summary;
            for (const auto& fault : faults_for(length, samples, seed, all_bits)) summary.add(fault, sweep.run(op, fault));
            const double cpu = static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC;
            any = any || summary.faulty_runs > 0 || !clean.clean() || !clean.reported_ok;
            std::printf("%-9s %-15s loader v%d, %llu bytes sent, %.1f s CPU\n  clean line: %s%s\n  %s\n", model.c_str(),
                        operation_name(op), sweep.loader_version(), static_cast<unsigned long long>(length), cpu,
                        clean.reported_ok ? "success" : "FAILED", clean.clean() ? "" : (", " + clean.detail).c_str(),
                        summary.text().c_str());
            std::fflush(stdout);
        }
    }
    std::printf("total CPU %.1f s\n", static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    return any ? 1 : 0;
}
