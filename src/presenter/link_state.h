#pragma once

namespace zarvik {

// The line to the board, as the port panel knows it. One value, so that "connected"
// without an open port, or a speed on no port, cannot be written down.
enum class Link {
    NoPort,          // none open: none chosen, it would not open, or it was lost
    PortOpen,        // open, at whatever speed its driver holds
    SpeedSet,        // open at the chosen speed
    Connected,       // the loader answered the handshake on it
    ProgramRunning,  // «Старт программы» was sent: the board's program has the line
};

inline bool port_is_open(Link link) { return link != Link::NoPort; }

// The window's life.
enum class Life {
    Running,
    Closing,  // the user said to close during an operation: it ends, then the window
    Closed,   // the exit sequence has run
};

}  // namespace zarvik
