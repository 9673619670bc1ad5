#pragma once

#include <string>

#include "presenter/panel_views.h"

namespace zarvik {

// The help window: its caption and the whole text to show, read-only, lines wrapped.
struct HelpContent {
    std::string title;
    std::string text;
};

// The About box's caption and its three centred lines.
struct AboutContent {
    std::string title;
    std::string name;
    std::string version;
    std::string date;
};

// What the main window is to the presenters: a dumb view that shows what it is told
// and passes on what the user does (see MainPresenter). It is each panel's view at once.
// Every member except post_to_ui is called on the window's thread only.
class MainView : public PortPanelView, public OperationView, public FileView, public ExitView, public UiThread {
public:
    virtual void show_help(const HelpContent& help) = 0;
    virtual void show_about(const AboutContent& about) = 0;
};

}  // namespace zarvik
