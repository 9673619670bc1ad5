#include "app/dialog_support.h"

#include "text/language.h"

#include <QFontMetrics>

#include <cmath>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The images live in a static library; its resources must be registered by hand.
static void register_images() { Q_INIT_RESOURCE(zarvik); }

namespace zarvik {

QFont dialog_font() {
    // The templates' "MS Shell Dlg" 8 pt is Tahoma; where it is missing, the nearest sans.
    QFont font(QStringLiteral("Tahoma"), 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

bool install_qt_translation(QCoreApplication& app) {
    // Beside the program (a build, Windows), then where an installation puts them.
    const QString here = QCoreApplication::applicationDirPath();
    const QStringList folders{here + QStringLiteral("/translations"), here + QStringLiteral("/../share/zarvik/translations"),
                              QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
    auto load = [&](const QString& name) {
        auto* translator = new QTranslator(&app);
        for (const QString& folder : folders) {
            if (translator->load(name, folder)) {
                QCoreApplication::installTranslator(translator);
                return true;
            }
        }
        delete translator;
        return false;
    };
    // The window's texts are Russian in the sources, and so are Qt's own buttons and
    // dialogs in Russian mode; in English both come from their translations.
    if (current_language() == Language::English) return load(QStringLiteral("zarvik_en"));
    return load(QStringLiteral("qtbase_ru"));
}

QWidget* find_control(const QWidget* dialog, int id) {
    return dialog->findChild<QWidget*>(QStringLiteral("ctl_%1").arg(id));
}

void show_message(QWidget* parent, const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
    box.exec();
}

namespace {

QIcon svg_icon(const QString& path, std::initializer_list<QSize> sizes) {
    static const bool registered = (register_images(), true);
    (void)registered;
    QSvgRenderer renderer(path);
    QIcon icon;
    for (QSize size : sizes) {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QIcon window_icon() { return svg_icon(QStringLiteral(":/zarvik.svg"), {{16, 16}, {32, 32}, {48, 48}, {64, 64}}); }

QIcon browse_icon() { return svg_icon(QStringLiteral(":/browse.svg"), {{17, 16}}); }

}  // namespace zarvik
