#include "app/simulated_board.h"

namespace zarvik {

SimulatedBoard::SimulatedBoard(const DeviceModel& model, LoaderKind kind) : loader_(model, {}, kind), server_(loader_, true) {}

SimulatedBoard::~SimulatedBoard() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

bool SimulatedBoard::start() {
    if (!server_.open()) return false;
    thread_ = std::thread([this] { server_.serve(stop_); });
    return true;
}

}  // namespace zarvik
