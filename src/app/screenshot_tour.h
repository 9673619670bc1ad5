#pragma once

#include <QString>

namespace zarvik {

class CVelborDlg;

// The pictures of the window for the README and the packages (--screenshot,
// --screenshot-busy): the window is worked as a user would, photographed and closed.

// The window as it opens, saved to `path` half a second after it is shown.
void take_idle_picture(CVelborDlg& dialog, const QString& path);

// The window at work: `port` and 115200 baud chosen, connected, and an EEPROM erase
// two blocks under way when the picture is saved to `path`; then stopped and closed.
void take_busy_picture(CVelborDlg& dialog, const QString& port, const QString& path);

}  // namespace zarvik
