// zarvik-avr-sim: a simulated board running the loader firmware and the user program
// on a real AVR core (simavr), its UART on a new pseudo-terminal, in real time.
#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <deque>
#include <iostream>
#include <vector>

#include "sim/avr/avr_board.h"
#include "sim/board/usb_latency.h"
#include "sim/pty/board_pty.h"
#include "sim/pty/pty_termios.h"
#include "sim/sim_program.h"
#include "text/language.h"

namespace {

using zarvik::tr_text;

std::atomic<bool> g_reset{false};

void on_reset(int) { g_reset.store(true); }

std::int64_t now_us() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int run(zarvik::SimProgram& program, int argc, char** argv) {
    zarvik::SimProgram::choose_language(argc, argv);
    CLI::App app{tr_text("sim-help",
                         "Simulated AVR board on a real AVR core: the loader firmware and the user program run\n"
                         "in simavr, the UART is served on a new pseudo-terminal in real time. Prints the\n"
                         "terminal's path on the first line of standard output, then serves until it is\n"
                         "interrupted (SIGINT, SIGTERM). SIGUSR1 presses the reset button.")};
    double mhz = 16;
    std::string loader, flash_in, eeprom_in;
    program.add_language_option(app);
    program.add_model_option(app);
    app.add_option("--clock", mhz, tr_text("sim-help", "the chip's clock in MHz"))->check(CLI::Range(1.0, 20.0))->capture_default_str();
    app.add_option("--loader", loader,
                   tr_text("sim-help", "the loader's Intel HEX file (default: the build's, for the model and clock)"));
    app.add_option("--flash", flash_in, tr_text("sim-help", "a program already in flash at start (Intel HEX)"));
    app.add_option("--eeprom", eeprom_in, tr_text("sim-help", "EEPROM contents at start (Intel HEX)"));
    program.add_dump_options(app);
    program.add_link_option(app);
    program.add_latency_option(app, tr_text("sim-help", "what the chip sends reaches the host"));
    CLI11_PARSE(app, argc, argv);

    const auto hz = static_cast<std::uint32_t>(std::lround(mhz * 1e6));
    const std::string& model_name = program.model_name();
    const zarvik::AvrChip* chip = zarvik::find_avr_chip(model_name);
    if (loader.empty()) {
        // The build makes a loader for its default clock and one for 8 MHz boards.
        const std::string suffix = hz == 8'000'000 ? std::string("8mhz-38400") : std::string(ZARVIK_LOADER_SUFFIX);
        if (suffix.rfind(std::to_string(hz / 1'000'000) + "mhz-", 0) != 0 || hz % 1'000'000 != 0) {
            std::fprintf(stderr, tr_text("sim", "%s: no loader is built for this clock; give one with --loader\n"), program.name());
            return 2;
        }
        loader = std::string(ZARVIK_LOADER_DIR) + "/zarvik-loader-" + std::string(chip->mcu) + "-" + suffix + ".hex";
    }
    // The core prints its own notes while it builds a chip; standard output is ours.
    std::fflush(stdout);
    const int saved_stdout = ::dup(STDOUT_FILENO);
    const int devnull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ::dup2(devnull, STDOUT_FILENO);
    zarvik::AvrBoard board(model_name, hz);
    std::fflush(stdout);
    ::dup2(saved_stdout, STDOUT_FILENO);
    ::close(saved_stdout);
    ::close(devnull);
    if (!board.ok()) {
        std::cerr << "zarvik-avr-sim: " << board.error() << "\n";
        return 3;
    }
    if (!board.load_flash_hex(loader)) {
        std::fprintf(stderr, tr_text("sim", "%s: cannot load the loader from %s\n"), program.name(), loader.c_str());
        return 4;
    }
    if (!flash_in.empty() && !board.load_flash_hex(flash_in)) {
        std::fprintf(stderr, tr_text("sim", "%s: cannot load %s from %s\n"), program.name(), tr_text("sim", "flash"),
                     flash_in.c_str());
        return 4;
    }
    if (!eeprom_in.empty() && !board.load_eeprom_hex(eeprom_in)) {
        std::fprintf(stderr, tr_text("sim", "%s: cannot load %s from %s\n"), program.name(), tr_text("sim", "EEPROM"),
                     eeprom_in.c_str());
        return 4;
    }
    board.reset();

    zarvik::BoardPty pty;
    if (!pty.open()) {
        std::fprintf(stderr, tr_text("sim", "%s: cannot open a pseudo-terminal: %s\n"), program.name(), pty.error().c_str());
        return 3;
    }
    // The terminal starts at speed 0, which no host sets: a host that closes the port
    // puts its settings back, so bytes still read after that were sent at the last
    // speed seen, not at 0.
    termios idle{};
    ::tcgetattr(pty.master(), &idle);
    ::cfsetispeed(&idle, B0);
    ::cfsetospeed(&idle, B0);
    ::tcsetattr(pty.master(), TCSANOW, &idle);
    if (!program.make_link(pty.path())) return 3;
    program.prepare_to_serve();
    std::signal(SIGUSR1, on_reset);
    zarvik::SimProgram::announce(pty.path());
    const std::atomic<bool>& stop = program.stop();

    // Simulated time is held to wall time: each round runs the core up to now, so the
    // host's time-outs and the loader's wait are real.
    std::int64_t wall0 = now_us();
    std::uint64_t cycle0 = board.cycle();
    zarvik::LatencyBuffer adapter(std::llround(program.latency_ms() * hz / 1000));
    std::uint8_t buf[512];
    // What the host has not taken yet. A host that does not read fills the terminal;
    // beyond this much, bytes are lost as an adapter's buffer would lose them, and
    // the loop never waits for the host.
    std::deque<std::uint8_t> unread;
    // While bytes go either way the rounds are short, so that an answer reaches the
    // host within a tenth of a millisecond of leaving the chip, not at the next tick.
    constexpr std::int64_t kLivelyUs = 5000;
    std::int64_t lively_until = 0;
    constexpr std::size_t kUnreadLimit = std::size_t{64} * 1024;
    auto deliver = [&] {
        auto& sent = board.sent();
        while (!sent.empty() && sent.front().done_cycle <= board.cycle()) {
            if (adapter.enabled()) {
                adapter.arrive(static_cast<std::int64_t>(sent.front().done_cycle), sent.front().byte);
            } else {
                unread.push_back(sent.front().byte);
            }
            sent.pop_front();
        }
        if (adapter.enabled()) {
            for (std::uint8_t b : adapter.take_due(static_cast<std::int64_t>(board.cycle()))) unread.push_back(b);
        }
        if (!unread.empty()) lively_until = now_us() + kLivelyUs;
        while (unread.size() > kUnreadLimit) unread.pop_front();
        while (!unread.empty()) {
            std::uint8_t chunk[512];
            const std::size_t count = std::min(unread.size(), sizeof chunk);
            std::copy_n(unread.begin(), count, chunk);
            const ssize_t w = ::write(pty.master(), chunk, count);
            if (w > 0) {
                unread.erase(unread.begin(), unread.begin() + w);
            } else if (w < 0 && errno == EINTR) {
                continue;
            } else {
                break;  // full, or nobody there: the rest waits for the next round
            }
        }
    };
    while (!stop.load()) {
        if (g_reset.exchange(false)) board.reset();
        std::int64_t wall = now_us();
        std::uint64_t target = cycle0 + static_cast<std::uint64_t>(wall - wall0) * hz / 1'000'000;
        // A core that fell far behind is not made to race: the lost time is let go.
        if (target > board.cycle() + hz / 5) {
            wall0 = wall;
            cycle0 = board.cycle();
            target = cycle0;
        }
        // The speed the host has set now: its bytes cross the line at it and the chip's
        // are read at it, so a host at another speed than the chip's gets garbage, as a
        // real UART would.
        zarvik::PtyLineSettings line;
        if (zarvik::read_pty_line_settings(pty.master(), line) && line.baud > 0) board.set_host_baud(line.baud);
        const ssize_t n = ::read(pty.master(), buf, sizeof buf);
        for (ssize_t i = 0; i < n; ++i) board.host_send(buf[i]);
        if (n > 0) lively_until = now_us() + kLivelyUs;
        // A core that catches up after the process was held back runs a millisecond at
        // a time, and what the chip sent goes out after each, so that a host is not
        // kept waiting for the whole stretch.
        do {
            board.run_until(std::min(target, board.cycle() + hz / 1000));
            deliver();
        } while (board.cycle() < target && !stop.load());
        // Wait for the host or for the next round, whichever comes first.
        pollfd p{pty.master(), POLLIN, 0};
        const timespec ts{0, now_us() < lively_until ? 100'000L : 1'000'000L};
        ::ppoll(&p, 1, &ts, nullptr);
    }

    return program.finish(board.flash(), board.eeprom());
}

}  // namespace

int main(int argc, char** argv) {
    zarvik::SimProgram program("zarvik-avr-sim");
    return program.guarded([&] { return run(program, argc, argv); });
}
