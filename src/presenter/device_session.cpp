#include "presenter/device_session.h"

namespace zarvik {

DeviceSession::DeviceSession(UiThread& ui, const PresenterEnvironment& environment)
    : ui_(ui), clock_(environment.clock != nullptr ? *environment.clock : steady_) {
    port_ = environment.make_port ? environment.make_port(clock_) : make_serial_device_port(clock_);
    port_->set_cancellation(&cancel_);
    forget_device();
}

DeviceSession::~DeviceSession() {
    cancel_.request();
    alive_.reset();
}

void DeviceSession::to_ui(std::function<void()> task) {
    ui_.post_to_ui([weak = std::weak_ptr<int>(alive_), task = std::move(task)] {
        if (weak.lock()) task();
    });
}

void DeviceSession::forget_device() {
    const DeviceModel model = state_.model;
    programmer_.emplace(state_, *port_, clock_);
    programmer_->set_cancellation(&cancel_);
    programmer_->set_model(model);
}

}  // namespace zarvik
