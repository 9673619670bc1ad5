// One byte lost, sent twice or changed on the way to the chip, at sampled places of a
// short flash write, an EEPROM write and a configuration, on the real core running our
// loader, for every chip: the loader, the memories the operation does not write, and
// the truth of a reported success must survive every one. The whole sweep is
// bench/fault_sweep. Everything runs on the core's simulated time.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/fault_sweep.h"

namespace zarvik {
namespace {

using testing::FaultSweep;
using testing::SweepOperation;
using testing::SweepSummary;

// Faults per operation and chip: enough to land on commands, lengths, addresses, data
// and checks alike, few enough for the test run. ZARVIK_FAULT_SEED draws others.
constexpr int kSamples = 16;

unsigned seed() {
    const char* text = std::getenv("ZARVIK_FAULT_SEED");
    return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : 22u;
}

// Version 1 of our loader takes the page frames that let a lost byte write the EEPROM
// and the loader's own block; the sweep is its record of that, and runs on it only
// when asked (ZARVIK_FAULT_SWEEP_V1=1).
bool skip_version_one(const FaultSweep& sweep) {
    return sweep.loader_version() == 1 && std::getenv("ZARVIK_FAULT_SWEEP_V1") == nullptr;
}

class FaultSweepTest : public ::testing::TestWithParam<SweepOperation> {};

TEST_P(FaultSweepTest, OneLineErrorNeverHarmsTheChipOnAnyModel) {
    const SweepOperation op = GetParam();
    const unsigned s = seed();
    unsigned chip_seed = s;
    for (const char* model : {"ATmega8", "ATmega88", "ATmega168", "ATmega328"}) {
        // Each chip draws its own faults: the four together cover more places.
        ++chip_seed;
        SCOPED_TRACE(std::string(model) + ", " + testing::operation_name(op) + ", seed " + std::to_string(chip_seed));
        FaultSweep sweep(model);
        ASSERT_TRUE(sweep.ok()) << sweep.error();
        if (skip_version_one(sweep)) GTEST_SKIP() << "the built loader speaks protocol version 1";
        // On a clean line the operation succeeds and keeps every rule.
        const auto clean = sweep.run_clean(op);
        EXPECT_TRUE(clean.reported_ok);
        EXPECT_TRUE(clean.clean()) << clean.detail;
        const std::uint64_t length = sweep.clean_length(op);
        SweepSummary summary;
        for (const auto& fault : testing::faults_for(length, kSamples, chip_seed)) summary.add(fault, sweep.run(op, fault));
        EXPECT_EQ(summary.faulty_runs, 0) << summary.text();
    }
}

INSTANTIATE_TEST_SUITE_P(, FaultSweepTest,
                         ::testing::Values(SweepOperation::WriteFlash, SweepOperation::WriteEeprom, SweepOperation::Configure),
                         [](const ::testing::TestParamInfo<SweepOperation>& param) {
                             switch (param.param) {
                                 case SweepOperation::WriteFlash: return std::string("WriteFlash");
                                 case SweepOperation::WriteEeprom: return std::string("WriteEeprom");
                                 case SweepOperation::Configure: return std::string("Configure");
                             }
                             return std::string();
                         });

}  // namespace
}  // namespace zarvik
