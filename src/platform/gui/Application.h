// The application object: its event dispatch is the program's top-level error handler.
#pragma once

#include <QApplication>

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

// Applies the program's look: a small sans-serif font that fits the laid-out controls.
void ApplyProgramStyle(QApplication& app);

} // namespace morph
