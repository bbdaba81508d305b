#include "animation/PutNewFileDialog.h"

#include "animation/AnimationWindow.h"
#include "editor/Program.h"
#include "platform/gui/Application.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace morph {

TForm8::TForm8(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("Form8"));
    setWindowTitle(QStringLiteral("Put New File"));
    setFixedSize(162, 111);
    move(455, 237);

    auto named = [](QWidget* widget, const char* name, QRect geometry) {
        widget->setObjectName(QString::fromLatin1(name));
        widget->setGeometry(geometry);
    };
    Label1 = new QLabel(
        QStringLiteral("Use the TrackBar to Select Frame to put your File and Pres Ok"), this);
    named(Label1, "Label1", {0, 8, 72, 65});
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label1->setWordWrap(true);
    GroupBox1 = new QGroupBox(QStringLiteral(" In "), this);
    named(GroupBox1, "GroupBox1", {88, 0, 65, 81});
    RadioButton1 = new QRadioButton(QStringLiteral("Before"), GroupBox1);
    named(RadioButton1, "RadioButton1", {8, 24, 49, 17});
    RadioButton1->setChecked(true);
    RadioButton2 = new QRadioButton(QStringLiteral("After"), GroupBox1);
    named(RadioButton2, "RadioButton2", {8, 48, 41, 17});
    Button1 = new QPushButton(QStringLiteral("Ok"), this);
    named(Button1, "Button1", {24, 88, 49, 17});
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    named(Button2, "Button2", {88, 88, 49, 17});

    connect(Button1, &QPushButton::clicked, this,
            [this] { RunCommand([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { RunCommand([this] { Button2Click(); }); });
}

void TForm8::Button1Click() {
    Form5->PutInsertion(RadioButton1->isChecked());
    hide();
}

void TForm8::Button2Click() {
    hide();
}

} // namespace morph
