#include "platform/gui/FormBuilder.h"

#include <QLayout>

namespace morph {

void SetUpForm(QWidget* form, const char* name, const char* title) {
    Named(form, name)->setWindowTitle(QString::fromLatin1(title));
}

void SetUpForm(QWidget* form, const char* name, const char* title, QRect geometry) {
    SetUpForm(form, name, title);
    form->setFixedSize(geometry.size());
    form->move(geometry.topLeft());
}

QWidget* SetUpMainForm(QMainWindow* form, const char* name, const char* title, QRect geometry) {
    SetUpForm(form, name, title);
    auto* client = new QWidget(form);
    client->setFixedSize(geometry.size());
    client->setAutoFillBackground(true);
    form->setCentralWidget(client);
    form->layout()->setSizeConstraint(QLayout::SetFixedSize);
    form->move(geometry.topLeft());
    return client;
}

void SetFontSize(QWidget* control, int layoutPixels) {
    control->setFont(ProgramFont(control->font(), layoutPixels));
}

QMenu* AddMenu(QMenuBar* bar, const char* name, const char* caption) {
    return Named(bar->addMenu(QString::fromLatin1(caption)), name);
}

QAction* AddItem(QMenu* menu, const char* name, const char* caption) {
    return Named(menu->addAction(QString::fromLatin1(caption)), name);
}

QAction* AddSeparator(QMenu* menu, const char* name) {
    return Named(menu->addSeparator(), name);
}

} // namespace morph
