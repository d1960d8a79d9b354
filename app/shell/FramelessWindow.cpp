#include "FramelessWindow.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

void FramelessDrag::press(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        Dragging = true;
        DragOffset = event->localPos().toPoint();
    }
}

void FramelessDrag::move(QWidget* window, QMouseEvent* event) const
{
    if (Dragging)
        window->move(event->globalPos() - DragOffset);
}

void centreOnScreen(QWidget* window)
{
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

void applyShapedBackground(QWidget* window, const QPixmap& picture)
{
    if (picture.isNull())
        return;
    window->resize(picture.size());
    const QBitmap mask = picture.mask();
    if (!mask.isNull())
        window->setMask(mask);
    QPalette pal = window->palette();
    pal.setBrush(QPalette::Window, QBrush(picture));
    window->setPalette(pal);
    window->setAutoFillBackground(true);
}
