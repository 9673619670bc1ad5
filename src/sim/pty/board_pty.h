#pragma once

#include <string>

namespace zarvik {

// The board's end of a new pseudo-terminal: raw both ways (a terminal's echo and line
// editing would corrupt the protocol), non-blocking, and with the host's end held open
// so that the master stays readable between host sessions. Closed when it goes.
class BoardPty {
public:
    BoardPty() = default;
    ~BoardPty();
    BoardPty(const BoardPty&) = delete;
    BoardPty& operator=(const BoardPty&) = delete;

    // False with the system's reason in error() when no terminal can be had.
    bool open();
    int master() const { return master_; }
    // What a host opens, such as /dev/pts/4.
    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    int master_ = -1;
    int keepalive_ = -1;
    std::string path_;
    std::string error_;
};

}  // namespace zarvik
