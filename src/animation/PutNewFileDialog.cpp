#include "animation/PutNewFileDialog.h"

namespace morph {

TForm8::TForm8(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(QStringLiteral("Put New File"));
    setFixedSize(162, 111);
    move(455, 237);
}

} // namespace morph
