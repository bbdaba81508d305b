#include "views/ProgressWindow.h"

#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "platform/MorphError.h"
#include "platform/gui/FormBuilder.h"
#include "views/PropertiesWindow.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <climits>
#include <string>

namespace morph {

// Stays above the frame windows, which a build keeps repainting, so that Cancel can be reached.
TForm4::TForm4(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    SetUpForm(this, "Form4", "Progress", {300, 300, 414, 97});

    GroupBox1 = Place<QGroupBox>(this, "GroupBox1", {8, 0, 401, 96});
    Label1 = Place<QLabel>(GroupBox1, "Label1", "Building Image 0....", {32, 24, 280, 0});
    // As high as its line of text.
    Label1->resize(280, Label1->sizeHint().height());
    ProgressBar1 = Place<QProgressBar>(GroupBox1, "ProgressBar1", {32, 48, 361, 25});
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    Button1 = Place<QPushButton>(this, "Button1", "Cancel", {328, 16, 75, 25});
    Button1->raise();
    OnClick(Button1, this, &TForm4::Button1Click);
}

void TForm4::Open() {
    if (!isVisible()) {
        FormShow();
    }
    show();
    raise();
}

void TForm4::FormShow() {
    // Read both settings before changing anything, so that a failure leaves the window as it
    // was.
    const int step = Form2->RefreshRate();
    if (step == 0) {
        throw MorphError(kIntDivideByZero);
    }
    if (step < 0) {
        throw MorphError("The refresh rate must be a whole number of at least 1, not " +
                         std::to_string(step));
    }
    const int frames = Form2->Frames();
    const long long perFrame = (Form1->Image1->width() - 1) / step + 1;
    const long long maximum = perFrame * frames;

    CancelRequested = false;
    const int left = Form1->ImagesWindow ? Form1->ImagesWindow->x() : x();
    move(left, 720 - height());
    ProgressBar1->setRange(0, int(std::clamp<long long>(maximum, 0, INT_MAX)));
    ProgressBar1->setValue(0);
}

void TForm4::Button1Click() {
    CancelRequested = true;
}

void TForm4::Advance() {
    ProgressBar1->setValue(ProgressBar1->value() + 1);
    repaint();
}

} // namespace morph
