// What every platform's console shares: why the program was asked to stop, what that
// means for its exit code and how it is said.
#include <atomic>
#include <string>

#include "cli/console.h"

namespace zarvik::cli {
namespace {

std::atomic<StopReason> g_reason{StopReason::None};
static_assert(std::atomic<StopReason>::is_always_lock_free, "set from signal handlers");

}  // namespace

void note_stop(StopReason reason) {
    // The first reason stands: a Ctrl-C after a SIGTERM is still a termination.
    StopReason none = StopReason::None;
    g_reason.compare_exchange_strong(none, reason);
}

StopReason Console::stop_reason() { return g_reason.load(); }

void Console::forget_stop() { g_reason.store(StopReason::None); }

int stop_exit_code(StopReason reason) {
    switch (reason) {
        case StopReason::None:
        case StopReason::Interrupt: return 130;
        case StopReason::HangUp:
        case StopReason::ConsoleClosed: return 129;
        case StopReason::Terminate:
        case StopReason::LogOff:
        case StopReason::Shutdown: return 143;
    }
    return 130;
}

const char* stop_text(StopReason reason) {
    switch (reason) {
        case StopReason::None:
        case StopReason::Interrupt: return tr_text("cli", "прервано (Ctrl-C)");
        case StopReason::Terminate: return tr_text("cli", "остановлено сигналом SIGTERM");
        case StopReason::HangUp: return tr_text("cli", "остановлено сигналом SIGHUP: терминал закрыт");
        case StopReason::ConsoleClosed: return tr_text("cli", "остановлено: окно консоли закрывается");
        case StopReason::LogOff: return tr_text("cli", "остановлено: пользователь выходит из системы");
        case StopReason::Shutdown: return tr_text("cli", "остановлено: система завершает работу");
    }
    return "";
}

}  // namespace zarvik::cli
