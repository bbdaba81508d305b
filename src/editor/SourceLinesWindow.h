// The floating "Source" window: the Source lines with their numbers while drawing them.
#pragma once

#include "editor/FloatingLinesWindow.h"

namespace morph {

class TForm6 : public FloatingLinesWindow {
    Q_OBJECT
  public:
    explicit TForm6(QWidget* parent = nullptr)
        : FloatingLinesWindow(QStringLiteral("Source"), parent) {}
};

} // namespace morph
