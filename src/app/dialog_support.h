#pragma once

#include <QString>
#include <QCoreApplication>
#include <QWidget>

namespace zarvik {

// The templates' "MS Shell Dlg" 8 pt: Tahoma, or the nearest sans where it is missing.
QFont dialog_font();

// Qt's own texts (message box buttons, file dialogs) in Russian: qtbase_ru from Qt's
// translations folder, or from "translations" beside the program where Qt has none.
// False when neither is there; the texts then stay Qt's English.
bool install_qt_translation(QCoreApplication& app);

// A control by its template id ("ctl_<id>" in the forms).
QWidget* find_control(const QWidget* dialog, int id);

// The program's message box: a caption, the text, an OK button, no icon.
void show_message(QWidget* parent, const QString& text, const QString& caption);

// The window icon and the browse picture, drawn from the program's own SVG files.
QIcon window_icon();
QIcon browse_icon();

}  // namespace zarvik
