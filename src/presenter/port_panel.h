#pragma once

#include <functional>
#include <string>
#include <vector>

#include "memory/device_model.h"
#include "presenter/device_session.h"
#include "presenter/link_state.h"
#include "presenter/operation_runner.h"
#include "presenter/panel_views.h"
#include "presenter/settings_file.h"
#include "presenter/window_texts.h"

namespace zarvik {

// The port panel: the port scan and list, the speed and model lists, «Соединить» with
// the chip's identity and what its loader holds, the reset through DTR before it,
// «Старт программы», and the connection line that follows the link. A port that is lost is closed at once; its name and the chosen speed stay, so
// that «Соединить» opens it again at that speed by itself.
class PortPanel {
public:
    PortPanel(PortPanelView& view, DeviceSession& device, OperationRunner& runner, ShownTexts& texts,
              const PresenterEnvironment& environment);

    // Fills the speed and model lists and starts the scan. The last run's model, port
    // and speed are chosen again by their texts (empty or unknown ones choose nothing;
    // a port the scan does not find is named on the status line), and so is the reset.
    void start(const LoaderSettings& last);

    void on_scan_tick();
    // The list is about to drop down, or the system says a device came or went.
    void rescan();
    void on_port_chosen(int index);
    void on_speed_chosen(int index);
    void on_model_chosen(int index);
    void on_reset_dtr(bool checked);
    void on_connect();
    void on_start_program();
    // The port goes back to the line settings it had; at the exit.
    void close_port();

    // The guard of every button that talks to the board: true when a port is open,
    // after opening a lost one again at the chosen speed; otherwise says why not.
    bool ensure_port();
    // What an exchange said about the link; `line_lost`: the port itself is gone.
    void link_failed(bool line_lost);

    Link link() const { return link_; }
    bool scanning() const { return scanning_; }
    // The choices to remember, by their texts; empty where there is none.
    std::string chosen_port() const { return port_name_; }
    std::string chosen_speed() const;
    std::string chosen_model() const { return std::string(model_.name); }
    std::string chosen_reset() const { return reset_dtr_ ? kResetDtr : std::string(); }

private:
    std::vector<std::string> scan() const;
    void fill_port_list(const std::vector<std::string>& ports);
    void set_line(const std::string& text) { texts_.show(ids::kConnectionLine, text); }
    // Opens `port_name_` on the device thread and applies the chosen speed to it.
    // Returns the reason a speed was refused, if it was.
    std::string open_chosen();
    struct Connection;
    void connected(const Connection& result, const DeviceModel& selected);
    void select_model(const DeviceModel& model);
    void message(const std::string& text);

    PortPanelView& view_;
    DeviceSession& device_;
    OperationRunner& runner_;
    ShownTexts& texts_;
    const PresenterEnvironment& environment_;

    Link link_ = Link::NoPort;
    bool scanning_ = false;
    std::string port_name_;       // the chosen port, kept while it is lost
    std::string wanted_port_;     // the last run's port, chosen when the scan finds it
    int speed_index_ = -1;        // in kLineSpeeds; -1: none chosen
    DeviceModel model_ = kDefaultModel;
    bool reset_dtr_ = false;
    std::vector<std::string> shown_ports_;
};

}  // namespace zarvik
