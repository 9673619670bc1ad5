// The host side of the protocol against a line whose answers come from the fuzzer's
// bytes: short, long, late, garbage or gone. Every operation must end, never crash, and
// never report success for a read whose bytes did not all arrive.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "link/clock.h"
#include "loader/handshake.h"
#include "memory/intel_hex_writer.h"
#include "programmer/programmer.h"
#include "programmer/status_texts.h"

namespace {

using namespace zarvik;

// Each read takes a control byte: its low bits say how the answer goes wrong, if at all.
class FuzzedLine final : public ByteLink {
public:
    FuzzedLine(const std::uint8_t* data, std::size_t size, FakeClock& clock) : data_(data), size_(size), clock_(clock) {}

    bool write(std::span<const std::uint8_t> bytes) override {
        written_ += bytes.size();
        return !gone_;
    }
    ReadResult read(std::span<std::uint8_t> into) override {
        if (gone_) return {0, true};
        const std::uint8_t control = next();
        std::size_t count = into.size();
        switch (control & 0x7) {
            case 0: count = 0; clock_.sleep_ms(ReadTimeouts{}.total_for(into.size())); break;   // silent
            case 1: count = next() % (into.size() + 1); clock_.sleep_ms(50); break;             // short
            case 2: gone_ = (control & 0x8) != 0; count = gone_ ? 0 : count; break;             // vanished
            default: break;                                                                     // full
        }
        for (std::size_t i = 0; i < count; ++i) into[i] = (control & 0x10) ? next() : static_cast<std::uint8_t>('O');
        if (control & 0x20) {  // a valid-looking identification
            const char* id = (control & 0x40) ? "Loader" : "UUUU";
            for (std::size_t i = 0; i < count && id[i] != 0; ++i) into[i] = static_cast<std::uint8_t>(id[i]);
        }
        return {count, gone_};
    }
    void discard_input() override { next(); }

private:
    std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0x03; }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    FakeClock& clock_;
    bool gone_ = false;
    std::size_t written_ = 0;
};

std::string g_flash_file;
std::string g_eeprom_file;

std::string write_temp(const char* name, const std::string& text) {
    std::string path = std::string("/tmp/zarvik-fuzz-") + std::to_string(::getpid()) + "-" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::vector<std::uint8_t> program(300), data(200);
    for (std::size_t i = 0; i < program.size(); ++i) program[i] = static_cast<std::uint8_t>(i * 7);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
    g_flash_file = write_temp("p.hex", to_intel_hex(program));
    g_eeprom_file = write_temp("d.eep", to_intel_hex(data));
    std::atexit([] {
        ::unlink(g_flash_file.c_str());
        ::unlink(g_eeprom_file.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    FakeClock clock;
    FuzzedLine line(data + 1, size - 1, clock);
    auto state = std::make_unique<ProgrammerState>();
    Programmer programmer(*state, line, clock);
    programmer.set_model(kDeviceModels[data[0] % kDeviceModels.size()]);
    (void)programmer.connect();
    const MemoryKind memory = (data[0] & 0x80) ? MemoryKind::Eeprom : MemoryKind::Flash;
    const std::string& file = memory == MemoryKind::Flash ? g_flash_file : g_eeprom_file;
    const OperationOutcome outcomes[] = {
        programmer.erase(memory),
        programmer.write(memory, file),
        programmer.verify(memory, file),
        programmer.read(memory),
        programmer.configure_loader("16", "2"),
    };
    for (const auto& o : outcomes) {
        if (o.result == OperationOutcome::Result::Success && o.link_failure) std::abort();
        (void)status_text(o);
    }
    (void)programmer.start_program();
    return 0;
}
