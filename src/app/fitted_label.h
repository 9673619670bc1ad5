#pragma once

#include <QLabel>

namespace zarvik {

// A line of the window that shows whole texts: it wraps within the lines it is given
// (two unless told otherwise, measured in its own font), and a text that still does not
// fit is drawn cut short with "…" while text() and the tooltip keep all of it.
class FittedLabel : public QLabel {
    Q_OBJECT

public:
    explicit FittedLabel(QWidget* parent = nullptr);

    void set_lines(int lines);
    int lines() const { return lines_; }
    // Whether the whole text fits in the label as it is placed now.
    bool fits() const;
    // The text as drawn: the whole text, or its cut-short form.
    QString shown_text() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // The lines keep their height whatever the text: a wrapped text never moves the
    // controls below it, nor resizes the window.
    bool hasHeightForWidth() const override { return false; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    int text_flags() const;
    int lines_ = 2;
};

}  // namespace zarvik
