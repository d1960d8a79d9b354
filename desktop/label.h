#pragma once

#include <QLabel>

// A text label that looks and acts like a hyperlink: blue text, a pointing
// hand, an underline while the pointer is over it, and clicked() as soon as
// the left button goes down on it.
class label : public QLabel
{
    Q_OBJECT

public:
    label(const QString& text, QWidget* parent = nullptr);
    explicit label(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setLinkLook();

    bool m_Hovered = false;
};
