// morph-screenshots: starts the program's windows, optionally plays a scenario, and saves a
// PNG picture of every visible window into a folder, so the windows can be looked at
// without a display.
//
//   morph-screenshots OUTDIR [--morph SOURCE TARGET LINES FRAMES]
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "platform/gui/Application.h"

#include <QDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    morph::Application app(argc, argv);
    morph::ApplyProgramStyle(app);
    const QStringList args = morph::Application::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: morph-screenshots OUTDIR\n");
        return 1;
    }
    const QString folder = args.at(1);
    QDir().mkpath(folder);
    morph::CreateProgramWindows();
    morph::ShowProgram();
    int status = 0;
    QTimer::singleShot(500, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || w->windowTitle().isEmpty()) {
                continue;
            }
            QString name = w->metaObject()->className();
            name.remove(QStringLiteral("morph::"));
            const QString file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
            if (!w->grab().save(file)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                status = 1;
            } else {
                std::printf("%s: %s\n", qPrintable(file), qPrintable(w->windowTitle()));
            }
        }
        QApplication::quit();
    });
    morph::Application::exec();
    morph::DestroyProgramWindows();
    return status;
}
