// morph-screenshots: starts the program's windows, optionally plays a whole morph, and saves
// a PNG picture of every visible window into a folder, so the windows can be looked at
// without a display.
//
//   morph-screenshots OUTDIR [--morph SOURCE TARGET LINES FRAMES]
#include "cli/LinesFile.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "platform/QtImageIO.h"
#include "platform/gui/Application.h"
#include "views/PropertiesWindow.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

// Loads both pictures and the line pairs as a user would have them, then runs both builds.
void PlayMorph(const QStringList& args) {
    using namespace morph;
    const Side sides[] = {Side::Source, Side::Target};
    for (int i = 0; i < 2; ++i) {
        TForm1::SideParts p = Form1->Parts(sides[i]);
        p.image->setPicture(LoadPicture(args.at(i).toStdString()));
        p.loadButton->hide();
        Form1->MyFormCreate(sides[i] == Side::Source ? 2 : 1);
    }
    const LinePairs pairs = ReadLinesFile(args.at(2).toStdString());
    Form1->SourceLines = pairs.source;
    Form1->TargetLines = pairs.target;
    Form1->SourceLineCount = pairs.sourceCount;
    Form1->TargetLineCount = pairs.targetCount;
    for (int i = 0; i < 2; ++i) {
        TForm1::SideParts p = Form1->Parts(sides[i]);
        for (int n = 1; n <= *p.count; ++n) {
            Form2->AddLineEntry(sides[i], n);
        }
        p.panel->setText(Form1->StatusText(*p.count));
        Form1->RedrawSide(sides[i]);
    }
    Form2->Edit4->setText(args.at(3));
    Form1->Bui1->trigger();
    Form1->WarpedImages1->trigger();
}

} // namespace

int main(int argc, char** argv) {
    morph::Application app(argc, argv);
    morph::ApplyProgramStyle(app);
    const QStringList args = morph::Application::arguments();
    const bool morphing = args.size() == 7 && args.at(2) == QStringLiteral("--morph");
    if (args.size() != 2 && !morphing) {
        std::fprintf(stderr, "usage: morph-screenshots OUTDIR [--morph SOURCE TARGET LINES FRAMES]\n");
        return 1;
    }
    const QString folder = args.at(1);
    QDir().mkpath(folder);
    morph::CreateProgramWindows();
    morph::ShowProgram();
    int status = 0;
    QTimer::singleShot(300, [&] {
        if (morphing) {
            morph::RunCommand([&] { PlayMorph(args.mid(3)); });
        }
        QTimer::singleShot(500, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (!w->isVisible() || w->windowTitle().isEmpty()) {
                    continue;
                }
                QString name = w->windowTitle().trimmed();
                name.replace(QLatin1Char(' '), QLatin1Char('-'));
                const QString file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
                if (!w->grab().save(file)) {
                    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                    status = 1;
                } else {
                    std::printf("%s\n", qPrintable(file));
                }
            }
            QApplication::quit();
        });
    });
    morph::Application::exec();
    morph::DestroyProgramWindows();
    return status;
}
