#include "views/InterpolatedLinesWindow.h"

namespace morph {

TForm3::TForm3(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(QStringLiteral("Interpolated Lines"));
    setFixedSize(321, 188);
    move(300, 200);
}

} // namespace morph
