#include "app/port_list_box.h"

#include <QAbstractItemView>
#include <QStyledItemDelegate>

namespace zarvik {
namespace {

// In the open list: "ttyUSB0   FT232R USB UART, FTDI, 0403:6001"; closed, the name alone.
class DescribedItem final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString description = index.data(Qt::ToolTipRole).toString();
        if (!description.isEmpty()) option->text += QStringLiteral("   ") + description;
    }
};

}  // namespace

PortListBox::PortListBox(QWidget* parent) : QComboBox(parent) { setItemDelegate(new DescribedItem(this)); }

void PortListBox::showPopup() {
    emit aboutToShowPopup();
    // Wide enough for the descriptions, however narrow the box itself is.
    view()->setMinimumWidth(std::max(width(), view()->sizeHintForColumn(0) + 2 * view()->frameWidth()));
    setMaxVisibleItems(std::max(count(), 1));
    QComboBox::showPopup();
}

}  // namespace zarvik
