#include "FramelessWindow.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

namespace
{

class FramelessDrag : public QObject
{
public:
    explicit FramelessDrag(QWidget* window) : QObject(window), Window(window) {}

protected:
    // Only the window's events come here; each goes on to the window.
    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton) {
                Dragging = true;
                DragOffset = mouse->localPos().toPoint();
            }
        } else if (type == QEvent::MouseMove && Dragging) {
            Window->move(static_cast<QMouseEvent*>(event)->globalPos() - DragOffset);
        } else if (type == QEvent::MouseButtonRelease) {
            Dragging = false;
        }
        return false;
    }

private:
    QWidget* Window;
    bool Dragging = false;
    QPoint DragOffset;
};

} // namespace

void enableFramelessDrag(QWidget* window)
{
    window->installEventFilter(new FramelessDrag(window));
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
