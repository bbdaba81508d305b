#include "views/ProgressWindow.h"

namespace morph {

TForm4::TForm4(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setWindowTitle(QStringLiteral("Progress"));
    setFixedSize(414, 97);
    move(300, 300);
}

} // namespace morph
