#include "presenter/operation_runner.h"

#include <algorithm>

#include "loader/wait_count.h"
#include "programmer/status_texts.h"

namespace zarvik {
namespace {

namespace wt = window_text;

int bar_id(MemoryKind memory) { return memory == MemoryKind::Flash ? ids::kFlashProgress : ids::kEepromProgress; }

}  // namespace

// Runs on the device thread; hands every step to the window's thread, where the bar and
// the status line are shown in their turn.
class OperationRunner::ForwardedProgress final : public ProgressObserver {
public:
    ForwardedProgress(OperationRunner& runner, MemoryKind memory) : runner_(runner), memory_(memory) {}
    void on_phase(Phase phase) override {
        runner_.device_.to_ui([&r = runner_, phase, m = memory_] { r.set_status(phase_text(phase, m)); });
    }
    void on_range(std::uint32_t maximum) override {
        runner_.device_.to_ui([&r = runner_, maximum, m = memory_] { r.set_bar(m, r.bar(m).value, maximum); });
    }
    void on_position(std::uint32_t position) override {
        runner_.device_.to_ui([&r = runner_, position, m = memory_] { r.set_bar(m, position); });
    }

private:
    OperationRunner& runner_;
    MemoryKind memory_;
};

OperationRunner::OperationRunner(OperationView& view, DeviceSession& device, ShownTexts& texts)
    : view_(view), device_(device), texts_(texts) {}

// Every control that starts an operation or changes the port, speed, model, files or
// the loader's texts: disabled while anything runs, so that none overlap.
const std::vector<int>& OperationRunner::locked_while_busy() {
    static const std::vector<int> locked = {
        ids::kConnect,     ids::kStartProgram, ids::kPortList,    ids::kModelList,    ids::kSpeedList,
        ids::kFlashBrowse, ids::kEepromBrowse, ids::kFlashErase,  ids::kFlashWrite,   ids::kFlashVerify,
        ids::kFlashRead,   ids::kEepromErase,  ids::kEepromWrite, ids::kEepromVerify, ids::kEepromRead,
        ids::kFosc,        ids::kTimeout,      ids::kConfigureLoader, ids::kResetDtr,
    };
    return locked;
}

bool OperationRunner::ask(const std::string& text) {
    question_open_ = true;
    const bool yes = view_.ask_yes_no(wt::kProgramName, text);
    question_open_ = false;
    return yes;
}

void OperationRunner::set_busy(bool now_busy) {
    if (now_busy == busy()) return;
    activity_ = now_busy ? Activity::Running : Activity::Idle;
    device_.cancel().clear();
    for (int id : locked_while_busy()) view_.set_enabled(id, !now_busy);
    view_.set_enabled(ids::kStop, now_busy);
    view_.set_busy(now_busy);
}

void OperationRunner::set_bar(MemoryKind memory, std::uint32_t value, std::optional<std::uint32_t> maximum) {
    Bar& b = bar(memory);
    if (maximum) b.maximum = std::max<std::uint32_t>(*maximum, 1);
    b.value = std::min(value, b.maximum);
    view_.set_progress(bar_id(memory), b.value, b.maximum);
}

void OperationRunner::request_stop() {
    if (activity_ != Activity::Running) return;
    // During a span that must not be cut, the request waits for its end.
    device_.cancel().request();
    activity_ = Activity::Stopping;
    view_.set_enabled(ids::kStop, false);
}

void OperationRunner::stop_and_wait() {
    if (!busy()) return;
    device_.cancel().request();
    device_.call([] {});  // returns once the operation under way has ended
}

void OperationRunner::run_task(std::function<void()> device_work, std::function<void()> done) {
    set_busy(true);
    device_.post([this, device_work = std::move(device_work), done = std::move(done)]() mutable {
        device_work();
        device_.to_ui([this, done = std::move(done)] {
            set_busy(false);
            if (ended_hook && ended_hook()) return;
            done();
        });
    });
}

void OperationRunner::run(MemoryKind memory, const std::string& phase, const Work& work, const Finish& finish,
                          OperationAttempt attempt) {
    set_busy(true);
    set_status(phase);
    // Each operation starts from an empty bar, and the other memory's bar, which tells
    // of an earlier operation, is emptied too: nothing stale stands beside this one.
    set_bar(MemoryKind::Flash, 0, 1);
    set_bar(MemoryKind::Eeprom, 0, 1);
    (void)memory;
    device_.post([this, memory, phase, work, finish, attempt] {
        ForwardedProgress progress(*this, memory);
        if (attempt.accept_unconfirmed) device_.programmer().accept_unconfirmed_device();
        const OperationOutcome outcome = work(device_.programmer(), progress, attempt);
        device_.to_ui([this, outcome, memory, phase, work, finish, attempt] {
            set_busy(false);
            if (ended_hook && ended_hook()) return;
            ended(outcome, memory, phase, work, finish, attempt);
        });
    });
}

void OperationRunner::show_held_back() {
    if (!held_back_) return;
    const auto show = std::move(held_back_);
    held_back_ = nullptr;
    show();
}

void OperationRunner::ended(const OperationOutcome& reported, MemoryKind memory, const std::string& phase,
                            const Work& work, const Finish& finish, OperationAttempt attempt) {
    if (reported.link_failure && link_failed) link_failed(reported.link_failure->line_lost);
    const OperationOutcome& outcome = reported;
    using Result = OperationOutcome::Result;
    // A refusal the user may overrule: asked Yes/No, No the default; Yes runs it again.
    if (outcome.result == Result::Refused) {
        OperationAttempt again = attempt;
        const char* question = nullptr;
        switch (outcome.refusal) {
            case Refusal::WaitTooShort: question = wt::kAskShortWait, again.allow_short_wait = true; break;
            case Refusal::DeviceNotConfirmed: question = wt::kAskUnconfirmed, again.accept_unconfirmed = true; break;
            case Refusal::FoscOutOfRange: question = wt::kAskUnusualClock, again.allow_unusual_clock = true; break;
            default: break;
        }
        if (question != nullptr) {
            set_status({});  // nothing was sent; no phase text stays behind
            const std::string text = wt::operation_text(outcome) + "\n\n" + tr_string("window", question);
            // Never a second question over the one the user has not answered yet.
            auto ask_again = [this, text, memory, phase, work, finish, again] {
                if (ask(text)) run(memory, phase, work, finish, again);
            };
            if (question_open_) {
                held_back_ = std::move(ask_again);
            } else {
                ask_again();
            }
            return;
        }
    }
    if (outcome.result == Result::Refused || outcome.result == Result::FileFailure) {
        set_status({});
        auto tell = [this, text = wt::operation_text(outcome)] { view_.show_message(tr_string("status", kErrorCaption), text); };
        if (question_open_) {
            held_back_ = std::move(tell);
        } else {
            tell();
        }
        return;
    }
    finish(outcome);
}

}  // namespace zarvik
