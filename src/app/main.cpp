// The GUI program: creates the nine windows, shows the main window and runs the event loop.
#include "editor/Program.h"
#include "platform/gui/Application.h"

int main(int argc, char** argv) {
    morph::Application app(argc, argv);
    morph::ApplyProgramStyle(app);
    morph::CreateProgramWindows();
    morph::ShowProgram();
    const int status = morph::Application::exec();
    morph::DestroyProgramWindows();
    return status;
}
