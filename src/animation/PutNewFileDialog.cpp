#include "animation/PutNewFileDialog.h"

#include "animation/AnimationWindow.h"
#include "editor/Program.h"
#include "platform/gui/FormBuilder.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace morph {

TForm8::TForm8(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    SetUpForm(this, "Form8", "Put New File", {455, 237, 162, 111});

    Label1 = Place<QLabel>(this, "Label1",
                           "Use the TrackBar to Select Frame to put your File and Pres Ok",
                           {0, 8, 72, 65});
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label1->setWordWrap(true);
    GroupBox1 = Place<QGroupBox>(this, "GroupBox1", " In ", {88, 0, 65, 81});
    RadioButton1 = Place<QRadioButton>(GroupBox1, "RadioButton1", "Before", {8, 24, 49, 17});
    RadioButton1->setChecked(true);
    RadioButton2 = Place<QRadioButton>(GroupBox1, "RadioButton2", "After", {8, 48, 41, 17});
    Button1 = Place<QPushButton>(this, "Button1", "Ok", {24, 88, 49, 17});
    Button2 = Place<QPushButton>(this, "Button2", "Cancel", {88, 88, 49, 17});

    OnClick(Button1, this, &TForm8::Button1Click);
    OnClick(Button2, this, &TForm8::Button2Click);
}

void TForm8::Button1Click() {
    Form5->PutInsertion(RadioButton1->isChecked());
    hide();
}

void TForm8::Button2Click() {
    hide();
}

} // namespace morph
