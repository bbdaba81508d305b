// The Progress window of a warped build: the frame being built, a bar and Cancel.
#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace morph {

class TForm4 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm4(QWidget* parent = nullptr);

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QProgressBar* ProgressBar1;
    QPushButton* Button1; // "Cancel"

    // Set by Cancel, cleared each time the window goes from hidden to shown.
    bool CancelRequested = false;

    // Shows the window. Coming from hidden it is set up first (FormShow); a setting that does
    // not convert then raises its error here and the window stays hidden. Already on screen,
    // it keeps its flag, bar and label.
    void Open();
    // Places the window under the newest Images window and sets the bar's range for a whole
    // build from the current settings.
    void FormShow();
    void Button1Click();
    // One more step of the bar, repainted at once.
    void Advance();
};

} // namespace morph
