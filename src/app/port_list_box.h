#pragma once

#include <QComboBox>

namespace zarvik {

// The port list: asks for a fresh scan each time it opens, so that an adapter plugged in
// later appears, and shows what the system knows of each port beside its name.
class PortListBox : public QComboBox {
    Q_OBJECT

public:
    explicit PortListBox(QWidget* parent = nullptr);
    void showPopup() override;

signals:
    void aboutToShowPopup();
};

}  // namespace zarvik
