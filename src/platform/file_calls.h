#pragma once

// The calls by which the durable files reach the disk, open to a test: it sees them in
// the order they are made, and can make one fail as a full disk makes it fail. Nothing
// watches them unless a test sets a watcher.

#include <cstddef>
#include <string>

namespace zarvik {

enum class FileCall {
    Write,       // bytes to a file
    Sync,        // a file flushed to disk
    Rename,      // a file put in another's place
    SyncFolder,  // a folder flushed to disk, so that a new name or a rename lasts
    Truncate,    // a file cut back to a length
};

class FileCallWatcher {
public:
    virtual ~FileCallWatcher() = default;
    // Before `call` on `path` (the folder, for SyncFolder) is made. False makes it fail
    // as it fails on a full disk; a Write may lower `bytes`, and writes only that many,
    // as a disk does that fills during it.
    virtual bool before(FileCall call, const std::string& path, std::size_t& bytes) = 0;
};

// For tests: every call of the durable files goes past `watcher` from now until it is
// set back to nullptr. Set while no other thread writes a durable file.
void watch_file_calls(FileCallWatcher* watcher);

// For the durable files' implementations: whether the call may go on, and for a Write
// how many of its `bytes`.
bool file_call_allowed(FileCall call, const std::string& path, std::size_t& bytes);
bool file_call_allowed(FileCall call, const std::string& path);

}  // namespace zarvik
