#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace CLI {
class App;
}

namespace zarvik {

// What zarvik-sim and zarvik-avr-sim have in common around their boards: the options
// both take, the symbolic link to the terminal, the signals that end them, and the
// memories they leave behind. One board program makes one of these.
class SimProgram {
public:
    // `name` starts every message on standard error.
    explicit SimProgram(const char* name) : name_(name) {}

    const char* name() const { return name_; }

    // The language of the help and the messages: --lang en|ru, as every program takes it,
    // else the environment's. Called first, before any text is made.
    static void choose_language(int argc, const char* const* argv);

    // The options, each added where the caller wants it in the help text.
    void add_language_option(CLI::App& app);
    void add_model_option(CLI::App& app);
    void add_dump_options(CLI::App& app);
    void add_link_option(CLI::App& app);
    // `what_reaches` names what the latency holds back: the board's answer, or what the
    // chip sends (in the current language).
    void add_latency_option(CLI::App& app, const char* what_reaches);

    const std::string& model_name() const { return model_name_; }
    double latency_ms() const { return latency_ms_; }

    // Makes the link the user asked for; says why on standard error when it cannot.
    bool make_link(const std::string& terminal);
    // Installs the stop on SIGINT and SIGTERM. Answers are timed to the microsecond; the
    // default 50 us of timer slack would show up as host overhead in every round trip.
    void prepare_to_serve();
    // The terminal's path on the first line of standard output: what callers wait for.
    static void announce(const std::string& terminal);
    // True once SIGINT or SIGTERM came.
    const std::atomic<bool>& stop() const;

    // Writes the memories the user asked for and takes the link away; returns the exit
    // status: 4 when a memory could not be written, else 0.
    int finish(std::span<const std::uint8_t> flash, std::span<const std::uint8_t> eeprom);

    // Runs the program, turning an escaped exception into a message and status 3.
    int guarded(const std::function<int()>& run) const;

private:
    const char* name_;
    std::string model_name_ = "ATmega328";
    std::string flash_out_, eeprom_out_, link_path_, language_;
    double latency_ms_ = 0;
};

}  // namespace zarvik
