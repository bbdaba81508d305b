#include "animation/AnimationWindow.h"

namespace morph {

TForm5::TForm5(QWidget* parent) : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint) {
    setWindowTitle(QStringLiteral("Animation vQv"));
    setFixedSize(438, 495);
    move(242, 123);
}

} // namespace morph
