// The floating "Target" window: the Target lines with their numbers while drawing them.
#pragma once

#include "editor/FloatingLinesWindow.h"

namespace morph {

class TForm7 : public FloatingLinesWindow {
    Q_OBJECT
  public:
    explicit TForm7(QWidget* parent = nullptr)
        : FloatingLinesWindow(QStringLiteral("Target"), parent) {}
};

} // namespace morph
