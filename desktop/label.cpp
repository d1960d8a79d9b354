#include "label.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPen>

label::label(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setLinkLook();
}

label::label(QWidget* parent) : QLabel(QStringLiteral("str"), parent)
{
    setLinkLook();
}

void label::setLinkLook()
{
    QPalette pal = palette();
    const QColor blue(0, 0, 255, 255);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::WindowText, blue);
    setPalette(pal);
    setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    setCursor(Qt::PointingHandCursor);
}

void label::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QLabel::mousePressEvent(event);
}

void label::mouseReleaseEvent(QMouseEvent* event)
{
    update();
    QLabel::mouseReleaseEvent(event);
}

void label::enterEvent(QEvent* event)
{
    m_Hovered = true;
    update();
    QLabel::enterEvent(event);
}

void label::leaveEvent(QEvent* event)
{
    m_Hovered = false;
    update();
    QLabel::leaveEvent(event);
}

void label::paintEvent(QPaintEvent* event)
{
    if (m_Hovered) {
        QPainter painter(this);
        QPen pen(QColor(0, 0, 255), 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
        painter.setPen(pen);
        const int w = width();
        const int h = height();
        painter.drawLine(5, h - 5, w - 5, h - 5);
    }
    QLabel::paintEvent(event);
}
