#include "app/dialog_support.h"

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

QSize apply_dialog_units(QWidget* dialog, int top_offset) {
    dialog->setFont(dialog_font());
    // As the dialog manager measures it: the average width of the 52 Latin letters.
    const QFontMetricsF metrics(dialog->font());
    const double unit_x =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0 / 4.0;
    const double unit_y = metrics.height() / 8.0;
    auto px = [](double v) { return static_cast<int>(std::lround(v)); };
    for (QWidget* child : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->property("zarvikPlaced").toBool()) continue;
        const QRect du = child->geometry();
        QRect r(px(du.x() * unit_x), px(du.y() * unit_y) + top_offset, px(du.width() * unit_x), px(du.height() * unit_y));
        // A label whose text runs wider in this font than in the template's grows away
        // from the side it is aligned to, rather than being cut.
        if (auto* label = qobject_cast<QLabel*>(child); label != nullptr && !label->text().isEmpty()) {
            const int needed = label->sizeHint().width();
            if (needed > r.width()) {
                if (label->alignment() & Qt::AlignRight) {
                    r.setLeft(r.right() - needed);
                } else if (label->alignment() & Qt::AlignHCenter) {
                    r.adjust(-(needed - r.width()) / 2, 0, (needed - r.width() + 1) / 2, 0);
                } else {
                    r.setWidth(needed);
                }
            }
        }
        child->setGeometry(r);
        child->setProperty("zarvikPlaced", true);
    }
    const QRect du = dialog->geometry();
    return {px(du.width() * unit_x), px(du.height() * unit_y) + top_offset};
}

bool install_qt_translation(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    const QStringList folders{QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                              QCoreApplication::applicationDirPath() + QStringLiteral("/translations")};
    for (const QString& folder : folders) {
        if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                             folder)) {
            QCoreApplication::installTranslator(translator);
            return true;
        }
    }
    delete translator;
    return false;
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
