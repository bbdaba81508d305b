// The Interpolated Lines viewer: the line coordinates of any two frames of the last lines build.
#pragma once

#include <QWidget>

class QComboBox;
class QGroupBox;
class QListWidget;
class QPushButton;

namespace morph {

class TForm3 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm3(QWidget* parent = nullptr);

    QGroupBox* GroupBox1;
    QComboBox* ComboBox1;
    QListWidget* ListBox1;
    QComboBox* ComboBox2;
    QListWidget* ListBox2;
    QPushButton* Button4; // "OK"

    // Frame count and line count taken when the window was last filled on showing.
    int Frames = 0;
    int Lines = 0;

    // Shows the window; coming from hidden it is filled first (FormShow), so that a "Frames"
    // text that does not convert raises its error to the caller and nothing is shown.
    void Open();
    void FormShow();
    void ComboBox1Change();
    void ComboBox2Change();
    void Button4Click();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // Lists the lines of the frame chosen in `combo`; on selection y2 follows ", ".
    void FillList(QComboBox* combo, QListWidget* list);

    bool filledForShow_ = false;
};

} // namespace morph
