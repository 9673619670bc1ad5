#include "presenter/port_panel.h"

#include <algorithm>
#include <cstdio>

#include "loader/chip_identity.h"
#include "loader/loader_signature.h"
#include "programmer/status_texts.h"
#include "serial/serial_port.h"
#include "text/number_text.h"

namespace zarvik {
namespace {

namespace wt = window_text;

std::string hex4(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%.4X", value);
    return buffer;
}

// Sentences one after another; empty ones are left out.
std::string join_sentences(const std::vector<std::string>& sentences) {
    std::string out;
    for (const std::string& s : sentences) {
        if (s.empty()) continue;
        out += (out.empty() ? "" : ". ") + s;
    }
    return out;
}

int index_in(const std::vector<std::string>& list, const std::string& item) {
    const auto at = std::find(list.begin(), list.end(), item);
    return item.empty() || at == list.end() ? -1 : static_cast<int>(at - list.begin());
}

// What the board's loader holds, where it can be read: our loader names the clock its
// count runs at, so the wait is told in seconds; any other loader only has its count.
std::string board_loader_text(const ChipIdentity& identity) {
    if (!identity.found() || identity.torn_count) return {};  // a torn count is told on its own
    if (identity.signature && identity.signature->version >= kSessionProtocolVersion && identity.signature->clock_hz > 0) {
        const double hz = identity.signature->clock_hz;
        const double seconds = identity.wait_count > 0 ? (identity.wait_count - 1) * 12.0 / hz : 0.0;
        return wt::fill(wt::kBoardLoaderSettings, {format_number(hz / 1e6, 4), format_number(seconds, 2)});
    }
    return wt::fill(wt::kBoardLoaderCount, {std::to_string(identity.wait_count)});
}

}  // namespace

PortPanel::PortPanel(PortPanelView& view, DeviceSession& device, OperationRunner& runner, ShownTexts& texts,
                     const PresenterEnvironment& environment)
    : view_(view), device_(device), runner_(runner), texts_(texts), environment_(environment) {}

void PortPanel::message(const std::string& text) { view_.show_message(tr_string("status", kErrorCaption), text); }

// What the handshake on the device thread found.
struct PortPanel::Connection {
    HandshakeOutcome handshake = HandshakeOutcome::NoLoader;
    bool reset = false;       // DTR was to be pulsed first
    bool reset_done = false;  // and the port could
    int baud = 0;
    std::optional<ChipIdentity> identity;
    std::optional<OperationOutcome> identity_failure;
};

void PortPanel::start(const LoaderSettings& last) {
    const std::string& model = last.model;
    const std::string& speed = last.speed;
    std::vector<ListItem> speeds;
    std::vector<std::string> speed_texts;
    for (int s : kLineSpeeds) {
        speeds.push_back({std::to_string(s), {}});
        speed_texts.push_back(std::to_string(s));
    }
    view_.set_items(ids::kSpeedList, speeds);
    speed_index_ = index_in(speed_texts, speed);
    view_.set_selection(ids::kSpeedList, speed_index_);
    std::vector<ListItem> models;
    models.reserve(kDeviceModels.size());
    for (const auto& m : kDeviceModels) models.push_back({std::string(m.name), {}});
    view_.set_items(ids::kModelList, models);
    model_ = find_device_model(model).value_or(kDefaultModel);
    select_model(model_);
    wanted_port_ = last.port;
    reset_dtr_ = last.reset == kResetDtr;
    view_.set_checked(ids::kResetDtr, reset_dtr_);
    view_.set_tooltip(ids::kResetDtr, tr_string("window", wt::kResetDtrTip));
    view_.set_items(ids::kPortList, {});
    view_.set_selection(ids::kPortList, -1);
    scanning_ = true;
    view_.set_scan_timer(true);
}

std::vector<std::string> PortPanel::scan() const {
    std::vector<std::string> found = environment_.scan_ports ? environment_.scan_ports() : std::vector<std::string>{};
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

void PortPanel::fill_port_list(const std::vector<std::string>& ports) {
    shown_ports_ = ports;
    std::vector<ListItem> items;
    items.reserve(ports.size());
    for (const std::string& name : ports) {
        items.push_back({name, environment_.describe_port ? environment_.describe_port(name) : std::string()});
    }
    view_.set_items(ids::kPortList, items);
}

void PortPanel::on_scan_tick() {
    if (!scanning_) return;
    const std::vector<std::string> found = scan();
    if (found.empty()) {
        if (!shown_ports_.empty()) fill_port_list({});
        set_line(tr_string("status", kNoPorts));
        return;
    }
    fill_port_list(found);
    view_.set_selection(ids::kPortList, -1);
    scanning_ = false;
    view_.set_scan_timer(false);
    set_line(port_count_text(static_cast<int>(found.size())));
    // The last run's port, when it is there; when it is not, the list shows what is,
    // and the status line says that the port is gone.
    const int wanted = index_in(found, wanted_port_);
    if (wanted >= 0) {
        wanted_port_.clear();
        view_.set_selection(ids::kPortList, wanted);
        on_port_chosen(wanted);
    } else if (!wanted_port_.empty()) {
        runner_.set_status(wt::fill(wt::kRememberedPortMissing, {wanted_port_}));
        wanted_port_.clear();
    }
}

void PortPanel::rescan() {
    // The list as it is now, with the port this window holds open kept in it.
    if (scanning_ || runner_.busy()) return;
    std::vector<std::string> found = scan();
    if (port_is_open(link_) && std::find(found.begin(), found.end(), port_name_) == found.end()) {
        found.push_back(port_name_);
        std::sort(found.begin(), found.end());
    }
    fill_port_list(found);
    view_.set_selection(ids::kPortList, index_in(found, port_name_));
}

std::string PortPanel::open_chosen() {
    bool opened = false;
    bool applied = false;
    std::string why;
    const int baud = speed_index_ >= 0 ? kLineSpeeds[speed_index_] : 0;
    device_.call([&] {
        DevicePort& port = device_.port();
        port.close();
        opened = port.open(port_name_);
        device_.forget_device();  // another line may lead to another chip
        if (opened && baud != 0) {
            applied = port.set_speed(baud);
            if (!applied) why = port.error_text();
        }
    });
    link_ = !opened ? Link::NoPort : applied ? Link::SpeedSet : Link::PortOpen;
    if (opened && baud != 0 && !applied) {
        speed_index_ = -1;
        view_.set_selection(ids::kSpeedList, -1);
        set_line(wt::fill(wt::kSpeedRefused, {std::to_string(baud)}));
        return why;
    }
    if (!opened) {
        set_line(wt::fill(wt::kPortNotOpened, {port_name_}));
    } else if (applied) {
        set_line(wt::fill(wt::kSpeedSet, {std::to_string(baud)}));
    } else {
        set_line(wt::fill(wt::kPortOpened, {port_name_}));
    }
    return {};
}

void PortPanel::on_port_chosen(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= shown_ports_.size()) return;
    port_name_ = shown_ports_[static_cast<std::size_t>(index)];
    // The chosen speed goes with the new port: no speed is asked for twice.
    const std::string why = open_chosen();
    if (!why.empty()) message(why);
}

void PortPanel::on_speed_chosen(int index) {
    if (!port_is_open(link_)) {
        speed_index_ = -1;
        view_.set_selection(ids::kSpeedList, -1);
        message(tr_string("status", kPortNotOpen));
        return;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= std::size(kLineSpeeds)) return;
    const int baud = kLineSpeeds[index];
    bool applied = false;
    std::string why;
    device_.call([&] {
        applied = device_.port().set_speed(baud);
        if (!applied) why = device_.port().error_text();
    });
    const std::string speed = std::to_string(baud);
    if (applied) {
        speed_index_ = index;
        link_ = Link::SpeedSet;
        set_line(wt::fill(wt::kSpeedSet, {speed}));
        return;
    }
    speed_index_ = -1;
    link_ = Link::PortOpen;
    view_.set_selection(ids::kSpeedList, -1);
    set_line(wt::fill(wt::kSpeedRefused, {speed}));
    if (!why.empty()) message(why);
}

void PortPanel::on_model_chosen(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= kDeviceModels.size()) return;
    model_ = kDeviceModels[static_cast<std::size_t>(index)];
    const DeviceModel chosen = model_;
    device_.call([this, chosen] { device_.programmer().set_model(chosen); });
}

void PortPanel::on_reset_dtr(bool checked) { reset_dtr_ = checked; }

void PortPanel::select_model(const DeviceModel& model) {
    model_ = model;
    for (std::size_t i = 0; i < kDeviceModels.size(); ++i) {
        if (kDeviceModels[i].name == model.name) view_.set_selection(ids::kModelList, static_cast<int>(i));
    }
    device_.call([this, model] { device_.programmer().set_model(model); });
}

bool PortPanel::ensure_port() {
    if (link_ == Link::NoPort && !port_name_.empty()) {
        // Lost (or it would not open): the port is tried again, at the chosen speed.
        const std::string why = open_chosen();
        if (!why.empty()) message(why);
    }
    if (port_is_open(link_)) return true;
    runner_.set_status({});
    message(tr_string("status", kPortNotOpen));
    return false;
}

void PortPanel::link_failed(bool line_lost) {
    if (!line_lost) {
        if (link_ == Link::Connected) link_ = Link::SpeedSet;
        set_line(tr_string("window", wt::kLoaderSilent));
        return;
    }
    // The adapter was pulled: the dead port is let go at once, so that it can be opened
    // again when it is back; its name and speed stay chosen.
    device_.call([this] { device_.port().close(); });
    link_ = Link::NoPort;
    set_line(tr_string("status", kLineLost));
}

void PortPanel::close_port() {
    scanning_ = false;
    view_.set_scan_timer(false);
    device_.call([this] { device_.port().close(); });  // puts back the line settings the port had
    link_ = Link::NoPort;
}

void PortPanel::on_connect() {
    // The handshake alone needs the speed: the original asks for one before it, while
    // the other operations run at whatever speed the port holds, as they always did.
    if (link_ == Link::PortOpen) {
        runner_.set_status({});
        message(tr_string("status", kSpeedNotChosen));
        return;
    }
    runner_.set_status({});
    auto result = std::make_shared<Connection>();
    result->reset = reset_dtr_;
    result->baud = speed_index_ >= 0 ? kLineSpeeds[speed_index_] : 0;
    const DeviceModel selected = model_;
    runner_.run_task(
        [this, result] {
            // The board's reset through DTR starts its loader's wait; the sync follows at
            // once, well within it.
            if (result->reset) result->reset_done = device_.port().pulse_dtr();
            Programmer& p = device_.programmer();
            result->handshake = p.connect();
            // Which chip answers, asked once for this connection: three block reads.
            if (result->handshake == HandshakeOutcome::Connected) {
                result->identity = p.identify_device();
                result->identity_failure = p.identity_failure(Operation::Read, MemoryKind::Flash);
            }
        },
        [this, result, selected] { connected(*result, selected); });
}

void PortPanel::connected(const Connection& result, const DeviceModel& selected) {
    if (result.handshake == HandshakeOutcome::LineLost) {
        link_failed(true);
        return;
    }
    const bool handshake = result.handshake == HandshakeOutcome::Connected;
    link_ = handshake ? Link::Connected : Link::SpeedSet;
    set_line(tr_string("status", handshake ? kConnected : kNotConnected));
    std::vector<std::string> said;
    if (result.reset && !result.reset_done) said.push_back(tr_string("window", wt::kDtrNotPulsed));
    if (!handshake) {
        const bool dtr_reset = result.reset && result.reset_done;
        said.push_back(wt::fill(dtr_reset ? wt::kNoAnswerAfterDtr : wt::kNoAnswerAtSpeed, {std::to_string(result.baud)}));
        runner_.set_status(join_sentences(said));
        return;
    }
    if (result.identity_failure) {
        // The loader answered the handshake, then not the identity's reads: a line fault.
        const OperationOutcome& failure = *result.identity_failure;
        if (failure.link_failure) link_failed(failure.link_failure->line_lost);
        if (link_ == Link::Connected) link_ = Link::SpeedSet;
        runner_.set_status(status_text(failure));
        return;
    }
    if (result.identity && result.identity->found()) {
        const ChipIdentity& identity = *result.identity;
        const DeviceModel* found = model_for_loader_start(*identity.loader_start, selected);
        if (found != nullptr && found->loader_start != selected.loader_start) {
            select_model(*found);
            said.push_back(wt::fill(wt::kModelDetected, {chip_name(*identity.loader_start), hex4(*identity.loader_start), found->name}));
        }
        // A configuration cut between the block's two pages: operations go on, and
        // configuring the loader mends it.
        said.push_back(torn_count_text(identity));
        said.push_back(board_loader_text(identity));
    }
    runner_.set_status(join_sentences(said));
}

void PortPanel::on_start_program() {
    bool sent = false;
    device_.call([this, &sent] { sent = device_.programmer().start_program(); });
    if (sent) {
        // The user program has the line now; the loader answers only after a reset.
        link_ = Link::ProgramRunning;
        set_line(tr_string("window", wt::kProgramRunning));
    }
    runner_.set_status(sent ? tr_string("status", kProgramStarted) : tr_string("window", wt::kStartNotSent));
}

std::string PortPanel::chosen_speed() const {
    return speed_index_ >= 0 ? std::to_string(kLineSpeeds[speed_index_]) : std::string();
}

}  // namespace zarvik
