// The main window's morph files (a whole setup: pictures, lines, settings) and the files dropped
// on it.
#include "editor/MainWindow.h"

#include "cli/LinesFile.h"
#include "editor/Program.h"
#include "editor/WarpOptionsDialog.h"
#include "platform/AtomicFile.h"
#include "platform/Convert.h"
#include "platform/MorphError.h"
#include "platform/QtImageIO.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "views/PropertiesWindow.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QMimeData>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <optional>
#include <string>

namespace morph {

namespace {

const char* const kMorphOpenFilter =
    "Morph files (*.morph)|*.morph|Lines files (*.txt *.lines)|*.txt;*.lines";
const char* const kMorphSaveFilter = "Morph files (*.morph)|*.morph";

bool IsMorphFile(const QString& path) {
    return path.endsWith(QStringLiteral(".morph"), Qt::CaseInsensitive);
}

// The path a morph file records for a picture: relative to the morph file's folder when the
// picture lies there or below it, so that the two can move together; absolute otherwise. A
// relative name that begins with a blank would lose it when read, so it is written absolute.
std::string RecordedPicturePath(const QString& picture, const QString& morphFile) {
    const QString relative = QFileInfo(morphFile).absoluteDir().relativeFilePath(picture);
    const bool below = !relative.startsWith(QStringLiteral("..")) &&
                       QDir::isRelativePath(relative) && !relative.startsWith(QLatin1Char(' ')) &&
                       !relative.startsWith(QLatin1Char('\t'));
    return (below ? relative : picture).toStdString();
}

// The one local file a drag carries, if that is what it carries.
std::optional<QString> DraggedFile(const QMimeData* data) {
    if (!data || !data->hasUrls()) {
        return std::nullopt;
    }
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) {
        return std::nullopt;
    }
    return urls.front().toLocalFile();
}

} // namespace

void TForm1::OpenMorph1Click() {
    if (WarpedBuildRunning) {
        return;
    }
    const std::optional<QString> file = RunOpenDialog(this, QString::fromLatin1(kMorphOpenFilter));
    if (file) {
        OpenMorphFile(*file);
    }
}

void TForm1::SaveMorph1Click() {
    if (WarpedBuildRunning) {
        return;
    }
    if (MorphFileName.isEmpty()) {
        SaveMorphAs1Click();
        return;
    }
    SaveMorphFile(MorphFileName);
}

void TForm1::SaveMorphAs1Click() {
    if (WarpedBuildRunning) {
        return;
    }
    const std::optional<QString> chosen =
        RunSaveDialog(this, QString::fromLatin1(kMorphSaveFilter));
    if (!chosen) {
        return;
    }
    QString path = *chosen;
    if (QFileInfo(path).suffix().isEmpty()) {
        path += QStringLiteral(".morph");
    }
    SaveMorphFile(path);
}

void TForm1::OpenMorphFile(const QString& path) {
    if (WarpedBuildRunning) {
        return;
    }
    // Everything that can fail is read before anything of the windows changes.
    const MorphSetup setup = ReadMorphFile(path.toStdString());
    struct SidePicture {
        Side side;
        const std::optional<std::string>* file;
        std::optional<Bitmap> picture;
    };
    SidePicture pictures[] = {{Side::Source, &setup.sourcePath, std::nullopt},
                              {Side::Target, &setup.targetPath, std::nullopt}};
    QStringList missing;
    for (SidePicture& side : pictures) {
        if (!*side.file) {
            continue;
        }
        try {
            side.picture = LoadPicture(**side.file);
        } catch (const MorphError& error) {
            missing << QStringLiteral(" The ") + QString::fromLatin1(Parts(side.side).name) +
                           QStringLiteral(" picture could not be opened: ") +
                           QString::fromStdString(error.what());
        }
    }

    const LinesState before = CurrentLines();
    for (const SidePicture& side : pictures) {
        if (side.picture) {
            PutSidePicture(side.side, *side.picture, QString::fromStdString(**side.file));
        }
    }
    SourceLines = setup.lines.source;
    SourceLineCount = setup.lines.sourceCount;
    TargetLines = setup.lines.target;
    TargetLineCount = setup.lines.targetCount;
    ShowSideLines(Side::Source);
    ShowSideLines(Side::Target);
    // The settings go into the Properties window as texts, as if typed there.
    const auto put = [](QLineEdit* edit, const std::optional<std::string>& text) {
        if (text) {
            edit->setText(QString::fromStdString(*text));
        }
    };
    put(Form2->Edit4, setup.frames);
    put(Form2->Edit1, setup.a);
    put(Form2->Edit2, setup.b);
    put(Form2->Edit3, setup.p);
    put(Form2->Edit7, setup.refresh);
    if (setup.mode) {
        const bool endPoints = *setup.mode == InterpolationMode::EndPoints;
        Form2->RadioButton1->setChecked(endPoints);
        Form2->RadioButton2->setChecked(!endPoints);
    }
    // A file without a warp option was saved with its default (or before there were any).
    const WarpOptions defaults;
    WarpChoices.distance = setup.distance.value_or(defaults.distance);
    WarpChoices.sampling = setup.sampling.value_or(defaults.sampling);
    WarpChoices.supersample = setup.supersample.value_or(defaults.supersample);
    WarpOptionsForm->ShowChoices(WarpChoices);
    RecordLinesStep(QStringLiteral("Open Morph"), before);
    // Save Morph writes back to a morph file, never over a lines file of another program.
    MorphFileName = IsMorphFile(path) ? QFileInfo(path).absoluteFilePath() : QString();
    if (!missing.isEmpty()) {
        ShowError(this, missing.join(QLatin1Char('\n')));
    }
}

void TForm1::SaveMorphFile(const QString& path) {
    if (WarpedBuildRunning) {
        return;
    }
    // Every setting is converted as a build converts it, so that a text a build would refuse
    // is refused here with the same message, before anything is written.
    MorphSetup setup;
    setup.frames = IntToStr(Form2->Frames());
    setup.a = ShortestText(Form2->ConstantA());
    setup.b = ShortestText(Form2->ConstantB());
    setup.p = ShortestText(Form2->ConstantP());
    setup.mode =
        Form2->EndPointsMode() ? InterpolationMode::EndPoints : InterpolationMode::MiddlePoints;
    setup.refresh = IntToStr(Form2->RefreshRate());
    // Only the options that differ from their defaults, so that a morph of the classic warp
    // is written as before.
    const WarpOptions defaults;
    if (WarpChoices.distance != defaults.distance) {
        setup.distance = WarpChoices.distance;
    }
    if (WarpChoices.sampling != defaults.sampling) {
        setup.sampling = WarpChoices.sampling;
    }
    if (WarpChoices.supersample != defaults.supersample) {
        setup.supersample = WarpChoices.supersample;
    }
    setup.lines = {SourceLines, std::clamp(SourceLineCount, 0, LineSlots), TargetLines,
                   std::clamp(TargetLineCount, 0, LineSlots)};
    if (!SourcePictureFile.isEmpty()) {
        setup.sourcePath = RecordedPicturePath(SourcePictureFile, path);
    }
    if (!TargetPictureFile.isEmpty()) {
        setup.targetPath = RecordedPicturePath(TargetPictureFile, path);
    }
    const std::string text = FormatMorph(setup);
    AtomicFile file(path.toStdString());
    file.write(text.data(), text.size());
    file.commit();
    MorphFileName = QFileInfo(path).absoluteFilePath();
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (!WarpedBuildRunning && DraggedFile(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
    if (!WarpedBuildRunning && DraggedFile(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void TForm1::dropEvent(QDropEvent* event) {
    const std::optional<QString> file = DraggedFile(event->mimeData());
    if (!file || WarpedBuildRunning) {
        return;
    }
    event->acceptProposedAction();
    // The dividing line between the pictures splits the window into its two halves.
    const QPoint at = client_->mapFrom(this, event->position().toPoint());
    const Side side = at.x() < Bevel3->geometry().center().x() ? Side::Source : Side::Target;
    RunCommand([&] {
        if (IsMorphFile(*file)) {
            OpenMorphFile(*file);
        } else {
            LoadSideFrom(side, *file);
        }
    });
}

} // namespace morph
