// The Warp Options dialog: the distance, the sampling and the supersampling of the warped build.
#pragma once

#include "engine/Warp.h"

#include <QWidget>

#include <functional>

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace morph {

class WarpOptionsDialog : public QWidget {
    Q_OBJECT
  public:
    explicit WarpOptionsDialog(QWidget* parent = nullptr);

    // Controls, under their designer names.
    QGroupBox* GroupBox1;       // " Distance "
    QRadioButton* RadioButton1; // "Line"
    QRadioButton* RadioButton2; // "Segment"
    QGroupBox* GroupBox2;       // " Sampling "
    QRadioButton* RadioButton3; // "Nearest"
    QRadioButton* RadioButton4; // "Bilinear"
    QLabel* Label1;             // "Supersampling"
    QSpinBox* SpinEdit1;        // 1 .. kMaxSupersample
    QPushButton* Button1;       // "Ok"
    QPushButton* Button2;       // "Cancel"

    // Called by Ok with the choices shown.
    std::function<void(const WarpOptions&)> onAccept;

    // Shows `current` in the controls and the dialog on top.
    void Open(const WarpOptions& current);
    // Shows `current` in the controls.
    void ShowChoices(const WarpOptions& current);
    // The choices the controls show.
    WarpOptions Chosen() const;

    // Ok: hands the choices over and hides.
    void Button1Click();
    // Cancel: hides; the choices in use stay.
    void Button2Click();
};

} // namespace morph
