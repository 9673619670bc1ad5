// The steps of a session that give its board a serial number: checked before anything
// is sent, taken just before the board is first written, and written on its own when no
// file of its memory carried it.
#include <algorithm>

#include "cli/session.h"
#include "production/serial_counter.h"
#include "programmer/patch_check.h"
#include "programmer/programmer.h"

namespace zarvik::cli {

std::optional<std::string> serial_counter_problem(const SerialNumbering& serial) {
    const auto next = serial.counter->peek();
    if (const auto* error = std::get_if<CounterError>(&next)) return error->text();
    if (const std::uint64_t number = std::get<std::uint64_t>(next); !serial_fits(serial.layout, number)) {
        return CounterError{CounterProblem::DoesNotFit, serial.counter->path(), {}, number}.text();
    }
    return std::nullopt;
}

// Before a byte is sent: the counter can give a number that fits, and the number's
// place lies in the memory, outside the loader and off every byte the files hold.
int Session::check_serial_before_sending(const std::vector<Step>& plan) {
    if (!options_.serial) return kOk;
    const SerialNumbering& serial = *options_.serial;
    if (auto problem = serial_counter_problem(serial)) {
        reporter_.error(*problem);
        return kFile;
    }
    std::vector<std::pair<MemoryKind, std::string>> files;
    for (const Step& step : plan) {
        if ((step.kind == Step::Kind::Write || step.kind == Step::Kind::Verify) && step.memory == serial.place.memory) {
            files.emplace_back(step.memory, step.file);
        }
    }
    const ImagePatch placeholder{serial.place.memory, serial.place.address,
                                 std::vector<std::uint8_t>(serial.layout.size(), 0)};
    // Without -m the chip names its model later, and is checked again then; until then
    // only what no model allows is refused.
    const DeviceModel& bounds =
        options_.model_given ? options_.model
                             : *std::max_element(kDeviceModels.begin(), kDeviceModels.end(),
                                                 [](const DeviceModel& a, const DeviceModel& b) {
                                                     return a.loader_start < b.loader_start ||
                                                            (a.loader_start == b.loader_start && a.eeprom_size < b.eeprom_size);
                                                 });
    if (auto refused = check_patch_place(bounds, placeholder, files)) {
        reporter_.begin(refused->operation, refused->memory);
        return report(*refused);
    }
    return kOk;
}

// The number is taken (and the counter advanced on disk) just before the board is first
// written, once the chip is known to be the one asked for: a board that never answered,
// or the wrong chip, uses none, and a crash from here on leaves a gap, never a number
// given twice.
int Session::take_serial() {
    if (!options_.serial || serial_number_) return kOk;
    const SerialNumbering& serial = *options_.serial;
    // A chip that is not the model asked for is refused anyway: it must not cost a number.
    if (auto refused = programmer_->confirm_device(Operation::Write, serial.place.memory)) {
        reporter_.begin(refused->operation, refused->memory);
        return report(*refused);
    }
    // Against the chip's own model, before a number is spent on it.
    programmer_->set_patch(ImagePatch{serial.place.memory, serial.place.address,
                                      std::vector<std::uint8_t>(serial.layout.size(), 0)});
    if (auto refused = programmer_->check_patch()) {
        programmer_->set_patch(std::nullopt);
        reporter_.begin(refused->operation, refused->memory);
        return report(*refused);
    }
    // Every file the chain writes, against the chip: a file that this chip refuses
    // must not cost a number.
    for (const Step& step : *plan_) {
        if (step.kind != Step::Kind::Write) continue;
        if (const OperationOutcome checked = programmer_->check_file(step.memory, step.file); !checked.ok()) {
            programmer_->set_patch(std::nullopt);
            reporter_.begin(Operation::Write, step.memory);
            return report(checked);
        }
    }
    const auto taken = serial.counter->take([&](std::uint64_t n) { return serial_fits(serial.layout, n); });
    if (const auto* error = std::get_if<CounterError>(&taken)) {
        programmer_->set_patch(std::nullopt);
        reporter_.error(error->text());
        return kFile;
    }
    serial_number_ = std::get<std::uint64_t>(taken);
    reporter_.serial_number(*serial_number_);
    programmer_->set_patch(ImagePatch{serial.place.memory, serial.place.address,
                                      encode_serial(serial.layout, *serial_number_)});
    return kOk;
}

int Session::write_serial_alone() {
    if (serial_written_) return kOk;
    if (const int code = ensure_connected(false); code != kOk) return code;
    Step step;
    step.kind = Step::Kind::Write;
    step.memory = options_.serial->place.memory;
    if (const int code = take_identity(step); code != kOk) return code;
    if (const int code = take_serial(); code != kOk) return code;
    reporter_.begin(Operation::Write, step.memory);
    WriteOptions write_options;
    write_options.erase_pages = step.memory == MemoryKind::Flash && options_.erase != EraseBefore::None && !flash_blank_;
    if (const int code = report(programmer_->write_patch(reporter_, write_options)); code != kOk) return code;
    serial_written_ = true;
    if (!options_.verify_after_write || cancel_.pending()) return kOk;
    reporter_.begin(Operation::Verify, step.memory);
    return report(programmer_->verify_patch(reporter_));
}

}  // namespace zarvik::cli
