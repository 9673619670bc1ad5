// Twin in the Win32 window: src/win/main_win.cpp.
// zarvik: the programmer's window.
#include <CLI/CLI.hpp>

#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <memory>

#include "app/CVelborApp.h"
#if defined(ZARVIK_VIRTUAL_PORT_BOARD)
#include "app/simulated_board.h"
#endif
#include "memory/device_model.h"
#include "memory/file_kind.h"
#include "platform/system_language.h"
#include "text/language.h"
#include "zarvik_version.h"

static int run(int argc, char** argv) {
    zarvik::set_language(zarvik::language_for_arguments(argc, argv, zarvik::system_language()));
    CLI::App cli{"Zarvik: the programmer's window."};
    std::string simulate;
    std::string screenshot;
    std::string busy_screenshot;
#if defined(ZARVIK_VIRTUAL_PORT_BOARD)
    cli.add_flag("--simulate{ATmega328}", simulate,
                 "start a simulated board (--simulate=MODEL) on a virtual port that the port scan lists")
        ->check(CLI::IsMember({"ATmega8", "ATmega88", "ATmega168", "ATmega328"}))
        ->option_text("[=MODEL]");
#endif
    cli.add_option("--screenshot", screenshot, "save a picture of the window as PNG and quit");
    cli.set_version_flag("--version", "zarvik " ZARVIK_VERSION);
    cli.add_option("--screenshot-busy", busy_screenshot,
                   "with --simulate: connect, start an EEPROM erase, save a picture of the window during it and quit");
    std::string lang;
    cli.add_option("--lang", lang, "language of the window: en or ru (default: the system's; Russian when unset)")
        ->check(CLI::IsMember({"en", "ru"}));
    cli.allow_extras();  // Qt's own options (-platform, -style, ...) and the files to open
    cli.footer("Files named on the command line fill the paths: a .hex or .elf file the flash one, a .eep file the EEPROM one.");
    CLI11_PARSE(cli, argc, argv);
    QStringList files;
    for (const std::string& extra : cli.remaining()) {
        const QString path = QString::fromLocal8Bit(extra.c_str());
        if (!path.startsWith(QLatin1Char('-')) && zarvik::memory_for_file(path.toStdString())) {
            files << QFileInfo(path).absoluteFilePath();
        }
    }

    zarvik::CVelborApp app(argc, argv);
    QStringList extra_ports;
#if defined(ZARVIK_VIRTUAL_PORT_BOARD)
    std::unique_ptr<zarvik::SimulatedBoard> board;
    if (!simulate.empty()) {
        // The busy picture needs an erase that lasts: on our loader a blank EEPROM's is over at once.
        board = std::make_unique<zarvik::SimulatedBoard>(*zarvik::find_device_model(simulate),
                                                         busy_screenshot.empty() ? zarvik::LoaderKind::Ours : zarvik::LoaderKind::Plain);
        if (!board->start()) {
            std::fprintf(stderr, "zarvik: cannot open a virtual port for the simulated board\n");
            return 3;
        }
        extra_ports << board->port();
    }
#endif
    return app.init_instance(extra_ports, QString::fromStdString(screenshot), QString::fromStdString(busy_screenshot),
                             files);
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zarvik: %s\n", e.what());
        return 3;
    }
}
