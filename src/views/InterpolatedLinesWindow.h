// The Interpolated Lines viewer: the line coordinates of any two frames of the last lines build.
#pragma once

#include <QWidget>

namespace morph {

class TForm3 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm3(QWidget* parent = nullptr);
};

} // namespace morph
