// How the program's windows build their controls. Every window uses these, the ones added
// later too: a window's constructor is the list of its controls, each placed at the absolute
// geometry of the layout under its designer name ("Button1", "Open1": the name the program's
// code and the tests reach it by), followed by the handlers its controls run. A handler runs
// as a command: an error it raises ends the command and is shown in the application's error
// box, and the program goes on.
//
//     QWidget* client = SetUpMainForm(this, "Form5", "Animation vQv", {242, 123, 438, 495});
//     Bevel1 = PlaceFrame(client, "Bevel1", {8, 8, 417, 337}, QFrame::Box | QFrame::Sunken);
//     Button1 = Place<QPushButton>(client, "Button1", "Play", {24, 408, 57, 33});
//     File1 = AddMenu(menuBar(), "File1", "&File");
//     Open1 = AddItem(File1, "Open1", "&Open...", this, &TForm5::Open1Click);
//     N1 = AddSeparator(File1, "N1");
//     OnClick(Button1, this, &TForm5::Button1Click);
#pragma once

#include "platform/gui/Application.h"

#include <QAbstractButton>
#include <QAction>
#include <QFrame>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QRect>
#include <QString>
#include <QWidget>

#include <type_traits>
#include <utility>

namespace morph {

// Names and titles a window.
void SetUpForm(QWidget* form, const char* name, const char* title);
// Names and titles a window of the fixed size `geometry` gives, at its place on the screen.
void SetUpForm(QWidget* form, const char* name, const char* title, QRect geometry);
// Names and titles a main window and gives it its client area, the parent of its controls:
// `geometry` gives the window's place on the screen and the client area's fixed size, below
// the menu bar. The window keeps the size of the two together.
QWidget* SetUpMainForm(QMainWindow* form, const char* name, const char* title, QRect geometry);

// Gives an object its designer name: a timer, or a control not placed by Place.
template <class T> T* Named(T* object, const char* name) {
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

// A new control of type T in `parent`, named and placed; `args` go to T's constructor before
// the parent (a slider's orientation).
template <class T, class... Args>
T* Place(QWidget* parent, const char* name, QRect geometry, Args&&... args) {
    T* control = Named(new T(std::forward<Args>(args)..., parent), name);
    control->setGeometry(geometry);
    return control;
}

// The same for a control with a caption (a label's or button's text, a group box's title, an
// edit box's start text).
template <class T>
T* Place(QWidget* parent, const char* name, const char* caption, QRect geometry) {
    return Place<T>(parent, name, geometry, QString::fromLatin1(caption));
}

// A frame (a bevel, a panel, a dividing line; a label that shows its text in a panel) drawn
// in `style`: a QFrame::Shape with a QFrame::Shadow.
template <class T = QFrame>
T* PlaceFrame(QWidget* parent, const char* name, QRect geometry, int style) {
    T* frame = Place<T>(parent, name, geometry);
    frame->setFrameStyle(style);
    return frame;
}

// Gives a control's text the program's font at the size the layout gives it in pixels.
void SetFontSize(QWidget* control, int layoutPixels);

// A menu of the menu bar.
QMenu* AddMenu(QMenuBar* bar, const char* name, const char* caption);
// A menu item that does nothing when chosen.
QAction* AddItem(QMenu* menu, const char* name, const char* caption);
QAction* AddSeparator(QMenu* menu, const char* name);

// Runs `handler` of `form` as a command whenever `sender` sends `signal`; the handler takes
// the first arguments of the signal, or none.
template <class Sender, class Signal, class Form, class... Args>
void OnSignal(Sender* sender, Signal signal, std::type_identity_t<Form>* form,
              void (Form::*handler)(Args...)) {
    QObject::connect(sender, signal, form, [form, handler](Args... args) {
        RunCommand([&] { (form->*handler)(args...); });
    });
}

// Runs `handler` of `form` as a command when the button is clicked.
template <class Form>
void OnClick(QAbstractButton* button, std::type_identity_t<Form>* form, void (Form::*handler)()) {
    OnSignal(button, &QAbstractButton::clicked, form, handler);
}

// A menu item that runs `handler` of `form` when chosen.
template <class Form>
QAction* AddItem(QMenu* menu, const char* name, const char* caption,
                 std::type_identity_t<Form>* form, void (Form::*handler)()) {
    QAction* item = AddItem(menu, name, caption);
    OnSignal(item, &QAction::triggered, form, handler);
    return item;
}

// The same for an item with a check mark.
template <class Form>
QAction* AddCheckItem(QMenu* menu, const char* name, const char* caption,
                      std::type_identity_t<Form>* form, void (Form::*handler)()) {
    QAction* item = AddItem(menu, name, caption, form, handler);
    item->setCheckable(true);
    return item;
}

} // namespace morph
