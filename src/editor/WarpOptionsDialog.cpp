#include "editor/WarpOptionsDialog.h"

#include "platform/gui/FormBuilder.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

namespace morph {

WarpOptionsDialog::WarpOptionsDialog(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    SetUpForm(this, "WarpOptionsForm", "Warp Options", {400, 220, 233, 161});

    GroupBox1 = Place<QGroupBox>(this, "GroupBox1", " Distance ", {8, 0, 105, 81});
    RadioButton1 = Place<QRadioButton>(GroupBox1, "RadioButton1", "Line", {8, 24, 89, 17});
    RadioButton2 = Place<QRadioButton>(GroupBox1, "RadioButton2", "Segment", {8, 48, 89, 17});
    GroupBox2 = Place<QGroupBox>(this, "GroupBox2", " Sampling ", {120, 0, 105, 81});
    RadioButton3 = Place<QRadioButton>(GroupBox2, "RadioButton3", "Nearest", {8, 24, 89, 17});
    RadioButton4 = Place<QRadioButton>(GroupBox2, "RadioButton4", "Bilinear", {8, 48, 89, 17});
    Label1 = Place<QLabel>(this, "Label1", "Supersampling", {8, 96, 105, 21});
    SpinEdit1 = Place<QSpinBox>(this, "SpinEdit1", {120, 96, 57, 21});
    SpinEdit1->setRange(1, kMaxSupersample);
    Button1 = Place<QPushButton>(this, "Button1", "Ok", {40, 128, 65, 25});
    Button2 = Place<QPushButton>(this, "Button2", "Cancel", {128, 128, 65, 25});
    ShowChoices(WarpOptions{});

    OnClick(Button1, this, &WarpOptionsDialog::Button1Click);
    OnClick(Button2, this, &WarpOptionsDialog::Button2Click);
}

void WarpOptionsDialog::Open(const WarpOptions& current) {
    ShowChoices(current);
    show();
    raise();
    activateWindow();
}

void WarpOptionsDialog::ShowChoices(const WarpOptions& current) {
    RadioButton1->setChecked(current.distance == WarpDistance::Line);
    RadioButton2->setChecked(current.distance == WarpDistance::Segment);
    RadioButton3->setChecked(current.sampling == WarpSampling::Nearest);
    RadioButton4->setChecked(current.sampling == WarpSampling::Bilinear);
    SpinEdit1->setValue(current.supersample);
}

WarpOptions WarpOptionsDialog::Chosen() const {
    WarpOptions chosen;
    chosen.distance = RadioButton2->isChecked() ? WarpDistance::Segment : WarpDistance::Line;
    chosen.sampling = RadioButton4->isChecked() ? WarpSampling::Bilinear : WarpSampling::Nearest;
    chosen.supersample = SpinEdit1->value();
    return chosen;
}

void WarpOptionsDialog::Button1Click() {
    if (onAccept) {
        onAccept(Chosen());
    }
    hide();
}

void WarpOptionsDialog::Button2Click() {
    hide();
}

} // namespace morph
