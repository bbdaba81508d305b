#include "editor/FloatingLinesWindow.h"

#include "platform/gui/FormBuilder.h"

namespace morph {

FloatingLinesWindow::FloatingLinesWindow(const QString& caption, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint) {
    setWindowTitle(caption);
    Image1 = Place<PictureBox>(this, "Image1", {0, 0, 164, 164});
    FitPicture(164, 164);
}

void FloatingLinesWindow::FitPicture(int width, int height) {
    if (Image1->bitmap().width() != width || Image1->bitmap().height() != height) {
        Image1->setPicture(Bitmap(width, height));
    }
    setFixedSize(Image1->size());
}

} // namespace morph
