#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/cancellation.h"
#include "presenter/device_port.h"
#include "presenter/main_view.h"
#include "sim/board/sim_link.h"
#include "sim/board/sim_loader.h"

namespace zarvik::testing {

// A message box or question as the view was asked to show it.
struct Shown {
    std::string caption;
    std::string text;
};

// The window as the presenter sees it: it records what it is told, answers questions
// and file dialogs from a script, and runs what the device thread posts when the test
// pumps it, on the test's thread, as a window's event loop would.
class FakeView final : public MainView {
public:
    // --- MainView ---
    void post_to_ui(std::function<void()> task) override {
        {
            const std::lock_guard lock(mutex_);
            posted_.push_back(std::move(task));
        }
        wake_.notify_all();
    }
    void set_text(int id, const std::string& text) override { texts[id] = text; }
    void set_tooltip(int id, const std::string& text) override { tooltips[id] = text; }
    void set_enabled(int id, bool enabled) override { this->enabled[id] = enabled; }
    void set_items(int id, const std::vector<ListItem>& items) override {
        this->items[id] = items;
        selection[id] = -1;
    }
    void set_selection(int id, int index) override { selection[id] = index; }
    void set_checked(int id, bool checked) override { this->checked[id] = checked; }
    void set_progress(int id, std::uint32_t value, std::uint32_t maximum) override {
        progress[id] = {value, maximum};
        ++progress_updates[id];
    }
    void set_busy(bool busy) override { busy_cursor = busy; }
    void set_scan_timer(bool running) override { scan_timer = running; }
    void show_message(const std::string& caption, const std::string& text) override {
        messages.push_back({caption, text});
        if (on_message) on_message(messages.back());
    }
    bool ask_yes_no(const std::string& caption, const std::string& text) override {
        questions.push_back({caption, text});
        question_open = true;
        bool answer = false;
        if (on_ask) {
            answer = on_ask(questions.back());
        } else if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        question_open = false;
        return answer;
    }
    std::optional<std::string> choose_file(const FileDialogRequest& request) override {
        dialogs.push_back(request);
        if (files.empty()) return std::nullopt;
        auto chosen = files.front();
        files.pop_front();
        return chosen;
    }
    void show_help(const HelpContent& help) override { helps.push_back(help); }
    void show_about(const AboutContent& about) override { abouts.push_back(about); }
    void close_window() override { closed = true; }

    // --- The test's side ---

    // Forgets everything shown and asked, for a new window.
    void reset() {
        const std::lock_guard lock(mutex_);
        posted_.clear();
        texts.clear(), tooltips.clear(), enabled.clear(), items.clear(), selection.clear(), checked.clear(), progress.clear(),
            progress_updates.clear();
        busy_cursor = scan_timer = closed = question_open = false;
        messages.clear(), questions.clear(), answers.clear(), files.clear(), dialogs.clear(), helps.clear(), abouts.clear();
        on_ask = nullptr;
        on_message = nullptr;
    }

    // Runs what has been posted so far.
    void pump() {
        for (;;) {
            std::function<void()> task;
            {
                const std::lock_guard lock(mutex_);
                if (posted_.empty()) return;
                task = std::move(posted_.front());
                posted_.pop_front();
            }
            task();
        }
    }
    // Runs posted tasks as they come until `done` holds. The limit only keeps a broken
    // build from hanging the suite; nothing is timed.
    bool pump_until(const std::function<bool()>& done) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        for (;;) {
            pump();
            if (done()) return true;
            std::unique_lock lock(mutex_);
            if (!wake_.wait_until(lock, give_up, [this] { return !posted_.empty(); })) return false;
        }
    }
    std::string text(int id) const {
        const auto it = texts.find(id);
        return it == texts.end() ? std::string() : it->second;
    }
    bool is_enabled(int id) const {
        const auto it = enabled.find(id);
        return it == enabled.end() || it->second;  // controls start enabled
    }
    std::vector<std::string> item_texts(int id) const {
        std::vector<std::string> out;
        if (auto it = items.find(id); it != items.end()) {
            for (const ListItem& item : it->second) out.push_back(item.text);
        }
        return out;
    }

    std::map<int, std::string> texts;
    std::map<int, std::string> tooltips;
    std::map<int, bool> enabled;
    std::map<int, std::vector<ListItem>> items;
    std::map<int, int> selection;
    std::map<int, bool> checked;
    std::map<int, std::pair<std::uint32_t, std::uint32_t>> progress;
    std::map<int, int> progress_updates;
    bool busy_cursor = false;
    bool scan_timer = false;
    bool closed = false;
    bool question_open = false;
    std::vector<Shown> messages;
    std::vector<Shown> questions;
    std::deque<bool> answers;                       // the user's answers, in order; No when none is left
    std::function<bool(const Shown&)> on_ask;       // or the user at the question, with the window live
    std::function<void(const Shown&)> on_message;
    std::deque<std::optional<std::string>> files;   // what each file dialog gives back
    std::vector<FileDialogRequest> dialogs;
    std::vector<HelpContent> helps;
    std::vector<AboutContent> abouts;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> posted_;
};

// Holds the device thread inside a write until the test lets it go, so that «Стоп»
// and closing can be pressed at a known point of an operation.
class WriteGate {
public:
    // The write that makes `when` true waits at the gate.
    void arm(std::function<bool(const Cancellation*)> when) {
        const std::lock_guard lock(mutex_);
        when_ = std::move(when);
        waiting_ = false;
        open_ = false;
    }
    void pass(const Cancellation* cancel) {
        std::unique_lock lock(mutex_);
        if (!when_ || open_ || !when_(cancel)) return;
        waiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    bool wait_until_held() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(120), [this] { return waiting_; });
    }
    void open() {
        {
            const std::lock_guard lock(mutex_);
            open_ = true;
            when_ = nullptr;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<bool(const Cancellation*)> when_;
    bool waiting_ = false;
    bool open_ = false;
};

// Simulated boards by port name, in process, on the presenter's clock.
struct FakeBoards {
    std::map<std::string, SimLoader*> boards;
    int refused_speed = 0;
    WriteGate gate;
    std::vector<std::string> opened;  // every open, in order
    // What reached the line, in order: "dtr" for a pulse of DTR, "write" for bytes.
    std::vector<std::string> line_events;
    bool no_dtr = false;  // the ports have no DTR line (a pulse fails)
    std::atomic<const Cancellation*> cancel{nullptr};  // the presenter's stop request
};

class FakePort final : public DevicePort {
public:
    FakePort(Clock& clock, FakeBoards& boards) : clock_(clock), boards_(boards) {}
    bool open(const std::string& name) override {
        close();
        boards_.opened.push_back(name);
        const auto it = boards_.boards.find(name);
        if (it == boards_.boards.end()) {
            error_ = "Не удалось открыть порт " + name + ": нет такого порта";
            return false;
        }
        link_ = std::make_unique<SimLink>(*it->second, clock_);
        board_ = it->second;
        return true;
    }
    void close() override { link_.reset(); }
    bool is_open() const override { return link_ != nullptr; }
    bool set_speed(int baud) override {
        if (baud != boards_.refused_speed) return true;
        error_ = "Порт работает на другой скорости";
        return false;
    }
    // A board whose reset follows DTR: the pulse presses its reset button.
    bool pulse_dtr() override {
        if (link_ == nullptr || boards_.no_dtr) return false;
        boards_.line_events.push_back("dtr");
        board_->press_reset();
        return true;
    }
    std::string error_text() const override { return error_; }
    void set_cancellation(const Cancellation* cancel) override {
        cancel_ = cancel;
        boards_.cancel = cancel;
    }
    bool write(std::span<const std::uint8_t> bytes) override {
        boards_.gate.pass(cancel_);
        if (link_ != nullptr && (boards_.line_events.empty() || boards_.line_events.back() != "write")) {
            boards_.line_events.push_back("write");
        }
        return link_ != nullptr && link_->write(bytes);
    }
    ReadResult read(std::span<std::uint8_t> into) override {
        if (link_ == nullptr) return ReadResult{0, true, false};
        return link_->read(into);
    }
    void discard_input() override {
        if (link_ != nullptr) link_->discard_input();
    }

private:
    Clock& clock_;
    FakeBoards& boards_;
    std::unique_ptr<SimLink> link_;
    SimLoader* board_ = nullptr;
    std::string error_;
    const Cancellation* cancel_ = nullptr;
};

}  // namespace zarvik::testing
