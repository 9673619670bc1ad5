#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "presenter/device_session.h"
#include "presenter/panel_views.h"
#include "presenter/window_texts.h"
#include "programmer/outcome.h"
#include "programmer/progress.h"

namespace zarvik {

// What an operation is run with; a refusal that the user overrules runs it again.
struct OperationAttempt {
    bool allow_short_wait = false;
    bool accept_unconfirmed = false;
    bool allow_unusual_clock = false;
};

// Runs what talks to the board on the device thread, one thing at a time: the window is
// busy meanwhile (every control that could start another or change the line locked,
// «Стоп» live), the memory's bar follows the progress from zero, and a refusal the user
// may overrule is asked about and run again on Yes.
class OperationRunner {
public:
    using Work = std::function<OperationOutcome(Programmer&, ProgressObserver&, const OperationAttempt&)>;
    using Finish = std::function<void(const OperationOutcome&)>;

    enum class Activity {
        Idle,
        Running,
        Stopping,  // a stop was asked for; it ends after the exchange under way
    };

    OperationRunner(OperationView& view, DeviceSession& device, ShownTexts& texts);

    // Called on the window's thread when anything run here has ended, before its own
    // completion: the exit sequence takes over there if the user asked to close.
    // Returns true when it did, and the completion is dropped.
    std::function<bool()> ended_hook;
    // The link failed during an operation; `line_lost`: the port itself went away.
    std::function<void(bool line_lost)> link_failed;

    // Runs `work` with the memory's bar from zero and the phase text on the status line.
    // `finish` sees what was neither refused nor a file failure.
    void run(MemoryKind memory, const std::string& phase, const Work& work, const Finish& finish,
             OperationAttempt attempt = {});
    // Runs `device_work` on the device thread while the window is busy, then `done` on
    // the window's thread; no bar, no phase text (the handshake).
    void run_task(std::function<void()> device_work, std::function<void()> done);

    // «Стоп» and Esc: ends what runs after the exchange under way; a span that must not
    // be cut (the loader's first block) is finished first.
    void request_stop();
    // The session ends: asks for a stop and waits, on the calling thread, until it ended.
    void stop_and_wait();

    bool busy() const { return activity_ != Activity::Idle; }
    Activity activity() const { return activity_; }
    // The loader's own first block is being written now: closing is refused. Frames in
    // flight are not asked about here; a stop waits for their answers by itself.
    bool holding_loader_block() { return device_.cancel().held(HoldKind::LoaderBlock); }
    // A question about an operation is open (the stop-and-close one included).
    bool question_open() const { return question_open_; }
    bool ask(const std::string& text);
    // What an operation that ended while a question was open had to show in a box of its
    // own (a refusal, a file it could not read): shown once that question is answered
    // and the window stays; dropped when it closes.
    void show_held_back();

    void set_status(const std::string& text) { texts_.show(ids::kStatusLine, text); }
    // An empty bar, for a new file or a cancelled dialog.
    void reset_bar(MemoryKind memory) { set_bar(memory, 0, 1); }
    // The controls disabled while anything runs here.
    static const std::vector<int>& locked_while_busy();

private:
    class ForwardedProgress;
    struct Bar {
        std::uint32_t value = 0;
        std::uint32_t maximum = 1;
    };

    void set_busy(bool busy);
    void set_bar(MemoryKind memory, std::uint32_t value, std::optional<std::uint32_t> maximum = {});
    Bar& bar(MemoryKind memory) { return bars_[memory == MemoryKind::Flash ? 0 : 1]; }
    void ended(const OperationOutcome& outcome, MemoryKind memory, const std::string& phase, const Work& work,
               const Finish& finish, OperationAttempt attempt);

    OperationView& view_;
    DeviceSession& device_;
    ShownTexts& texts_;
    Activity activity_ = Activity::Idle;
    bool question_open_ = false;
    std::function<void()> held_back_;
    Bar bars_[2];
};

}  // namespace zarvik
