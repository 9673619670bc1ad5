#include "app/fitted_label.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>

namespace zarvik {

FittedLabel::FittedLabel(QWidget* parent) : QLabel(parent) {
    setWordWrap(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void FittedLabel::set_lines(int lines) {
    lines_ = std::max(lines, 1);
    updateGeometry();
}

int FittedLabel::text_flags() const { return static_cast<int>(alignment()) | Qt::TextWordWrap; }

QSize FittedLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    const int height = fontMetrics().lineSpacing() * lines_ + m.top() + m.bottom() + 2 * margin();
    return {QLabel::minimumSizeHint().width(), height};
}

// The window gives the width; the height holds the given lines whatever the text.
QSize FittedLabel::minimumSizeHint() const { return {fontMetrics().averageCharWidth() * 8, sizeHint().height()}; }

bool FittedLabel::fits() const {
    const QRect area = contentsRect();
    const QRect needed = fontMetrics().boundingRect(area, text_flags(), text());
    return needed.height() <= area.height() && needed.width() <= area.width();
}

QString FittedLabel::shown_text() const {
    if (fits()) return text();
    // Cut at the end, keeping as much as the lines hold.
    const QRect area = contentsRect();
    const QFontMetrics metrics = fontMetrics();
    const QString all = text();
    int low = 0;
    int high = static_cast<int>(all.size());
    while (low < high) {
        const int mid = (low + high + 1) / 2;
        const QString candidate = all.left(mid).trimmed() + QChar(0x2026);
        if (metrics.boundingRect(area, text_flags(), candidate).height() <= area.height()) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return all.left(low).trimmed() + QChar(0x2026);
}

void FittedLabel::paintEvent(QPaintEvent* event) {
    if (fits()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawItemText(&painter, contentsRect(), text_flags(), option.palette, isEnabled(), shown_text(),
                          foregroundRole());
}

bool FittedLabel::event(QEvent* event) {
    // The whole text in the tooltip whenever the line cannot show all of it.
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty() && !text().isEmpty() && !fits()) {
        QToolTip::showText(mapToGlobal(rect().bottomLeft()), text(), this);
        return true;
    }
    return QLabel::event(event);
}

}  // namespace zarvik
