// The whole road over a real pseudo-terminal: the real serial port on one side,
// zarvik-sim in its own process on the other.
#include <gtest/gtest.h>

#include <variant>

#include "memory/intel_hex_loader.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"
#include "serial/serial_port.h"
#include "support/busy_machine.h"
#include "support/sim_process.h"
#include "support/hex_image.h"
#include "support/temp_dir.h"

namespace zarvik {
namespace {

using testing::load_hex_image;

TEST(EndToEnd, ExampleProgramAndDataRoundTripThroughZarvikSim) {
    testing::TempDir dir;
    const std::string flash_dump = dir.file("flash-dump.hex");
    const std::string eeprom_dump = dir.file("eeprom-dump.eep");
    testing::SimProcess sim({"--model", "ATmega328", "--dump-flash", QString::fromStdString(flash_dump),
                             "--dump-eeprom", QString::fromStdString(eeprom_dump)});
    ASSERT_TRUE(sim.ready()) << sim.failure();

    // The board runs in another process: the host allows for a busy machine.
    SteadyClock clock;
    SerialPort port(clock, testing::patient_timeouts());
    ASSERT_TRUE(port.open(sim.path_string()));
    ASSERT_TRUE(port.set_speed(115200));
    auto state = std::make_unique<ProgrammerState>();
    Programmer programmer(*state, port, clock);
    programmer.set_model(*find_device_model("ATmega328"));

    ASSERT_EQ(programmer.connect(), HandshakeOutcome::Connected);
    const std::vector<OperationOutcome> steps{
        programmer.erase(MemoryKind::Flash),
        programmer.write(MemoryKind::Flash, ZARVIK_BLINK_HEX),
        programmer.verify(MemoryKind::Flash, ZARVIK_BLINK_HEX),
        programmer.save_read(programmer.read(MemoryKind::Flash), dir.file("read.hex")),
        programmer.write(MemoryKind::Eeprom, ZARVIK_BLINK_EEP),
        programmer.verify(MemoryKind::Eeprom, ZARVIK_BLINK_EEP),
        programmer.save_read(programmer.read(MemoryKind::Eeprom), dir.file("read.eep")),
    };
    for (const auto& step : steps) EXPECT_TRUE(step.ok()) << status_text(step);
    port.close();
    ASSERT_EQ(sim.stop(), 0);

    const auto program = load_hex_image(ZARVIK_BLINK_HEX, 0x7C00);
    const auto data = load_hex_image(ZARVIK_BLINK_EEP, 1024);
    const auto dumped_flash = load_hex_image(flash_dump, 0x8000);
    EXPECT_TRUE(std::equal(program.begin(), program.end(), dumped_flash.begin()));
    EXPECT_EQ(load_hex_image(eeprom_dump, 1024), data);
    EXPECT_EQ(load_hex_image(dir.file("read.hex"), 0x7C00), program);
    EXPECT_EQ(load_hex_image(dir.file("read.eep"), 1024), data);
}

}  // namespace
}  // namespace zarvik
