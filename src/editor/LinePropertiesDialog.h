// The Line Properies dialog: both line sets as lists to copy, delete and reorder.
#pragma once

#include <QWidget>

namespace morph {

class TForm9 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm9(QWidget* parent = nullptr);
};

} // namespace morph
