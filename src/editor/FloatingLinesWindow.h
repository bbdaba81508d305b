// The floating window of one side: its lines with their numbers on white, while drawing.
#pragma once

#include "platform/gui/PictureBox.h"

#include <QWidget>

namespace morph {

class FloatingLinesWindow : public QWidget {
    Q_OBJECT
  public:
    explicit FloatingLinesWindow(const QString& caption, QWidget* parent = nullptr);

    PictureBox* Image1;

    // Gives the picture the size of the main picture, white, and sizes the window to it.
    void FitPicture(int width, int height);
};

} // namespace morph
