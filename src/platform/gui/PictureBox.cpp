#include "platform/gui/PictureBox.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace morph {

namespace {

PictureMouse MouseOf(const QMouseEvent* event, Qt::MouseButton button) {
    const QPointF p = event->position();
    return {button, event->modifiers(), int(std::floor(p.x())), int(std::floor(p.y()))};
}

} // namespace

QImage ImageView(const Bitmap& bitmap) {
    return QImage(reinterpret_cast<const uchar*>(bitmap.data()), bitmap.width(), bitmap.height(),
                  qsizetype(bitmap.width()) * 4, QImage::Format_RGBX8888);
}

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
}

Bitmap& PictureBox::ensureBitmap() {
    if (bitmap_.empty()) {
        bitmap_.reset(width(), height());
    }
    return bitmap_;
}

void PictureBox::setPicture(const Bitmap& picture) {
    bitmap_ = picture;
    if (autoSize_ && !picture.empty()) {
        resize(picture.width(), picture.height());
    }
    update();
}

void PictureBox::refresh() {
    repaint();
}

namespace {

// Marks every control under `parent` for repainting, not those of windows it owns.
void MarkControls(QWidget* parent) {
    for (QObject* child : parent->children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (control && !control->isWindow() && control->isVisible()) {
            control->update();
            MarkControls(control);
        }
    }
}

} // namespace

void RepaintWithControls(QWidget* window) {
    MarkControls(window);
    window->repaint();
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    // Only the part asked for: a build repaints a few columns at a time.
    const QRect picture = area & QRect(0, 0, bitmap_.width(), bitmap_.height());
    if (picture != area) {
        painter.fillRect(area, palette().window());
    }
    if (!picture.isEmpty()) {
        painter.drawImage(picture.topLeft(), ImageView(bitmap_), picture);
    }
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    if (onMouseDown) {
        onMouseDown(MouseOf(event, event->button()));
    }
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    if (onMouseMove) {
        onMouseMove(MouseOf(event, Qt::NoButton));
    }
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    if (onMouseUp) {
        onMouseUp(MouseOf(event, event->button()));
    }
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent* event) {
    if (onDoubleClick) {
        onDoubleClick();
    } else {
        QWidget::mouseDoubleClickEvent(event);
    }
}

} // namespace morph
