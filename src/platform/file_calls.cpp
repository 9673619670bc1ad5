#include "platform/file_calls.h"

#include <atomic>

namespace zarvik {
namespace {

std::atomic<FileCallWatcher*> g_watcher{nullptr};

}  // namespace

void watch_file_calls(FileCallWatcher* watcher) { g_watcher.store(watcher); }

bool file_call_allowed(FileCall call, const std::string& path, std::size_t& bytes) {
    FileCallWatcher* watcher = g_watcher.load();
    return watcher == nullptr || watcher->before(call, path, bytes);
}

bool file_call_allowed(FileCall call, const std::string& path) {
    std::size_t none = 0;
    return file_call_allowed(call, path, none);
}

}  // namespace zarvik
