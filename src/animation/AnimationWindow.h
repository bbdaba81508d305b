// The animation window: plays, saves, opens and extends a frame sequence.
#pragma once

#include <QWidget>

namespace morph {

class TForm5 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm5(QWidget* parent = nullptr);
};

} // namespace morph
