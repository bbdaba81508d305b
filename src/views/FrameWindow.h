// A frame window (" Lines " or " Images "): three rows of frame pictures side by side.
#pragma once

#include "platform/gui/PictureBox.h"

#include <QWidget>

class QScrollArea;

namespace morph {

class FrameWindow : public QWidget {
    Q_OBJECT
  public:
    explicit FrameWindow(const QString& caption, QWidget* parent = nullptr);

    // The surface the pictures are placed on; it always has the full size of the window's
    // layout, and the window scrolls over it when the screen is too small.
    QWidget* content() const { return content_; }
    QScrollArea* scrollArea() const { return scroll_; }

    // Gives the content `size` and the window the same size, or the size of the screen's
    // free area in each direction where that is smaller (the window then scrolls that way and
    // is made room for the scroll bar in the other direction, if that fits).
    void SetFrameSize(QSize size);

    // Repaints the window with every picture on it, now.
    void RepaintPictures();

    // A new picture of width x height at (left, top) of the content, showing its picture at
    // its natural size and keeping its own size.
    PictureBox* AddPicture(int left, int top, int width, int height);

  private:
    QScrollArea* scroll_;
    QWidget* content_;
};

} // namespace morph
