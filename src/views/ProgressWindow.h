// The Progress window of a warped build: the frame being built, a bar and Cancel.
#pragma once

#include <QWidget>

namespace morph {

class TForm4 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm4(QWidget* parent = nullptr);
};

} // namespace morph
