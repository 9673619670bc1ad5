#pragma once

#include <QObject>

#include <functional>

namespace zarvik {

// Runs the tasks posted to it, from any thread, in order, on the thread it lives on;
// those still queued when it is destroyed are dropped.
class TaskRunner : public QObject {
public:
    using QObject::QObject;
    void post(std::function<void()> task);

protected:
    bool event(QEvent* event) override;
};

}  // namespace zarvik
