#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_plan.h"
#include "cli/reporter.h"
#include "link/byte_link.h"
#include "link/cancellation.h"
#include "link/clock.h"
#include "loader/chip_identity.h"
#include "memory/device_model.h"
#include "memory/serial_number.h"
#include "programmer/outcome.h"

namespace zarvik {
class Programmer;
struct ProgrammerState;
class SerialPort;
class SimLink;
class SimLoader;
class SerialCounter;
}  // namespace zarvik

namespace zarvik::cli {

// zarvik-cli's exit codes; an interrupted run ends with 128 plus the signal's number.
enum Exit { kOk = 0, kDifferences = 1, kUsage = 2, kLink = 3, kFile = 4, kWrongDevice = 5 };

// What `write flash` erases first.
enum class EraseBefore { Pages, All, None };

// --serial-at and its kin: each board gets the counter's next number at `place`.
struct SerialNumbering {
    SerialPlace place;
    SerialLayout layout;
    SerialCounter* counter = nullptr;  // shared by every board of the run
};

// Why the counter cannot give a number that fits its format, or nothing when it can:
// checked before anything is sent.
std::optional<std::string> serial_counter_problem(const SerialNumbering& serial);

struct SessionOptions {
    std::string port;
    int baud = 115200;
    DeviceModel model = kDefaultModel;
    bool model_given = false;  // -m: otherwise the chip's own model is used
    bool force = false;
    EraseBefore erase = EraseBefore::Pages;
    bool verify_after_write = true;
    bool pulse_dtr = false;  // before connecting, for boards whose reset follows it
    std::optional<DeviceModel> simulate;  // a simulated loader of this model, in process
    RoadChoice road = RoadChoice::Auto;
    std::optional<SerialNumbering> serial;
};

int exit_code_for(const OperationOutcome& o);

// What a session learnt of the board, for the production log.
struct LoaderFacts {
    // The chip its loader showed ("ATmega8/88" where the two cannot be told apart); empty
    // when the identity was never read or could not be.
    std::string chip;
    std::string chip_asked;  // -m's model, where it is not the chip found
    std::string kind;        // "zarvik" (ours, with its protocol version), "other", or empty
    int version = 0;
};

// One run of the command line: its steps in order on one connection, each reported as it
// ends; the first that fails ends the run with its exit code. The line is the port the
// options name, a simulated loader, or any byte link a caller hands in.
class Session {
public:
    Session(const SessionOptions& options, Reporter& reporter, Clock& clock, Cancellation& cancel);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Every device command goes over `link` instead of the port or the simulated loader.
    void use_link(ByteLink& link) { link_ = &link; }

    int run(const std::vector<Step>& plan);

    LoaderFacts loader_facts() const;

private:
    int open_port(int baud);
    int monitor(const Step& step);
    int ensure_connected(bool announce);
    int take_identity(const Step& step);
    int report(const OperationOutcome& o);
    int run_step(const Step& step);
    int write(const Step& step);
    int list_ports();
    int check_serial_before_sending(const std::vector<Step>& plan);
    int take_serial();
    int write_serial_alone();

    const SessionOptions& options_;
    Reporter& reporter_;
    Clock& clock_;
    Cancellation& cancel_;
    ByteLink* link_ = nullptr;
    std::unique_ptr<SerialPort> port_;
    std::unique_ptr<SimLoader> sim_;
    std::unique_ptr<SimLink> sim_link_;
    std::unique_ptr<ProgrammerState> state_;
    std::unique_ptr<Programmer> programmer_;
    bool identity_taken_ = false;
    std::optional<ChipIdentity> identity_;
    bool flash_blank_ = false;  // the last flash command was a full erase
    const std::vector<Step>* plan_ = nullptr;  // the chain under way
    std::optional<std::uint64_t> serial_number_;  // taken from the counter for this board
    bool serial_written_ = false;
};

}  // namespace zarvik::cli
