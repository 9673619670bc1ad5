// The loader firmware on a real AVR core: the host's own programmer against the
// assembled loader, through simavr with the chip's timing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "sim/avr_board.h"
#include "sim/avr_link.h"

namespace zarvik {
namespace {

std::string loader_hex(const AvrChip& chip) {
    return std::string(ZARVIK_LOADER_DIR) + "/zarvik-loader-" + std::string(chip.mcu) + "-" + ZARVIK_LOADER_SUFFIX + ".hex";
}

TEST(AvrCore, Smoke) {
    AvrBoard board("ATmega328", 16'000'000);
    ASSERT_TRUE(board.ok()) << board.error();
    ASSERT_TRUE(board.load_flash_hex(loader_hex(board.chip())));
    board.reset();
    AvrLink link(board, 115200);
    auto state = std::make_unique<ProgrammerState>();
    Programmer programmer(*state, link, link);
    programmer.set_model(*find_device_model("ATmega328"));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(programmer.connect(), HandshakeOutcome::Connected);
    auto w = programmer.write(MemoryKind::Flash, ZARVIK_BLINK_HEX);
    EXPECT_TRUE(w.ok()) << status_text(w);
    auto v = programmer.verify(MemoryKind::Flash, ZARVIK_BLINK_HEX);
    EXPECT_TRUE(v.ok()) << status_text(v);
    const auto t1 = std::chrono::steady_clock::now();
    std::printf("sim %lld ms, wall %lld ms\n", (long long)link.now_ms(),
                (long long)std::chrono::duration_cast<std::chrono::milliseconds>(t1 - t0).count());
}

}  // namespace
}  // namespace zarvik
