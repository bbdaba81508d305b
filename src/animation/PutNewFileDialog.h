// The Put New File dialog (TForm8): where the loaded picture or frames go in the animation.
#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace morph {

class TForm8 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm8(QWidget* parent = nullptr);

    // Controls, under their designer names.
    QLabel* Label1;
    QGroupBox* GroupBox1;       // " In "
    QRadioButton* RadioButton1; // "Before"
    QRadioButton* RadioButton2; // "After"
    QPushButton* Button1;       // "Ok"
    QPushButton* Button2;       // "Cancel"

    // Ok: puts what the animation window loaded at the frame its track bar selects now.
    void Button1Click();
    // Cancel: only hides; what was loaded stays for the next time.
    void Button2Click();
};

} // namespace morph
