// The Put New File dialog: where inserted frames go in the animation.
#pragma once

#include <QWidget>

namespace morph {

class TForm8 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm8(QWidget* parent = nullptr);
};

} // namespace morph
