// The application object: its event dispatch is the program's top-level error handler.
#pragma once

#include <QApplication>
#include <QFont>

#include <exception>
#include <utility>

namespace morph {

class Application : public QApplication {
    Q_OBJECT
  public:
    Application(int& argc, char** argv);
    ~Application() override;
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the message of the exception being handled in the application's error box.
void ReportCurrentException();

// Runs a command; an error ends the command and is shown, and the program goes on. Used
// for commands reached without an event (a menu action triggered directly, a timer).
template <class F> void RunCommand(F&& command) {
    try {
        std::forward<F>(command)();
    } catch (...) {
        ReportCurrentException();
    }
}

// The windows are laid out for a narrow sans-serif font: 11-pixel text in general, some
// titles and lists larger. The program draws every text in DejaVu Sans, whose letters are
// about a fifth wider, at 9/11 of the size the layout was made for, so that each text fits
// the place the layout gives it (11 pixels become 9, 13 become 11, 16 become 13).
int ProgramPixelSize(int layoutPixels);
// `font` in the program's face at the program's size for `layoutPixels`.
QFont ProgramFont(QFont font, int layoutPixels);

// Applies the program's look: the font above, and a style whose radio buttons and check
// boxes leave their captions the room the layout counts on.
void ApplyProgramStyle(QApplication& app);

} // namespace morph
