// A picture control: shows one bitmap at its natural size and reports mouse input in
// picture coordinates.
#pragma once

#include "platform/Bitmap.h"
#include "platform/Canvas.h"

#include <QImage>
#include <QWidget>

#include <functional>

namespace morph {

struct PictureMouse {
    Qt::MouseButton button = Qt::NoButton; // the button that changed (none for a move)
    Qt::KeyboardModifiers modifiers;
    int x = 0;
    int y = 0;
};

class PictureBox : public QWidget {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget* parent = nullptr);

    // The picture; a control that never had one reads as an empty bitmap.
    Bitmap& bitmap() { return bitmap_; }
    const Bitmap& bitmap() const { return bitmap_; }
    bool hasPicture() const { return !bitmap_.empty(); }
    // The first drawing into a control without a picture gives it a white one of its size.
    Bitmap& ensureBitmap();
    // The drawing surface of the picture (pen, brush and mode stay as last set).
    Canvas& canvas() {
        ensureBitmap();
        return canvas_;
    }

    // Replaces the picture; an auto-sized control takes the picture's size.
    void setPicture(const Bitmap& picture);
    void setAutoSize(bool on) { autoSize_ = on; }
    bool autoSize() const { return autoSize_; }

    // Repaints now (refresh) or when the event loop comes round (repaint request).
    void refresh();

    std::function<void(const PictureMouse&)> onMouseDown;
    std::function<void(const PictureMouse&)> onMouseMove;
    std::function<void(const PictureMouse&)> onMouseUp;
    std::function<void()> onDoubleClick;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    Bitmap bitmap_;
    Canvas canvas_{bitmap_};
    bool autoSize_ = true;
};

// Repaints `window` and every control on it now. A window's own repaint leaves its opaque
// controls (the pictures above all) as they were last drawn, so each is marked first; the one
// repaint then draws them all in a single pass.
void RepaintWithControls(QWidget* window);

// A QImage sharing the bitmap's memory (valid while the bitmap is neither resized nor
// destroyed); colours 0x00BBGGRR are the bytes R, G, B, X of Format_RGBX8888.
QImage ImageView(const Bitmap& bitmap);

} // namespace morph
