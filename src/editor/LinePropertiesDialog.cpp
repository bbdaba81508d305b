#include "editor/LinePropertiesDialog.h"

namespace morph {

TForm9::TForm9(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Line Properies"));
    setFixedSize(471, 210);
    move(277, 100);
}

} // namespace morph
