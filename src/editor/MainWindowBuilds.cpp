// The main window's builds: the interpolated lines and the warped frames, and their windows.
#include "editor/MainWindow.h"

#include "editor/LinePropertiesDialog.h"
#include "editor/LineRendering.h"
#include "editor/Program.h"
#include "editor/WarpOptionsDialog.h"
#include "engine/FrameBuild.h"
#include "engine/Interpolation.h"
#include "engine/Warp.h"
#include "platform/Memory.h"
#include "platform/MorphError.h"
#include "platform/gui/Dialogs.h"
#include "views/FrameWindow.h"
#include "views/InterpolatedLinesWindow.h"
#include "views/LineInfluenceWindow.h"
#include "views/ProgressWindow.h"
#include "views/PropertiesWindow.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPushButton>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morph {

namespace {

const char* const kFramesBelowOne = " The Number of Frames Must Be at Least 1!";
const char* const kTooManyFrames = " Too Many Frames to Show in One Window!";
const char* const kRefreshBelowOne = " The Refresh Rate Must Be at Least 1!";
const char* const kLinesChanged =
    " The Number of Frames or Lines Has Changed! Build the Interpolated Lines Again!";

// Largest width or height Qt gives a widget.
constexpr long long kMaxWindowExtent = 16777215;

QSize FrameWindowSize(int width, int height, long long frames) {
    return QSize(int(frames * width + 10 * frames + 20), 3 * height + 50);
}

// The checks both build commands make before anything is created; returns the frame count,
// or nothing after telling the user why the build cannot run.
std::optional<int> CheckedFrameCount(TForm1& form) {
    if (form.SourceLineCount != form.TargetLineCount) {
        ShowError(&form, QString::fromLatin1(kDifferentLineCounts));
        return std::nullopt;
    }
    if (form.SourceLineCount == 0) {
        ShowError(&form, QString::fromLatin1(kNoLines));
        return std::nullopt;
    }
    if (form.SourceLineCount < 0 || form.SourceLineCount > LineSlots) {
        throw MorphError("A side can hold at most " + std::to_string(LineSlots) + " lines");
    }
    const int frames = Form2->Frames();
    if (frames < 1) {
        ShowError(&form, QString::fromLatin1(kFramesBelowOne));
        return std::nullopt;
    }
    const long long width = form.Image1->width();
    const long long height = form.Image1->height();
    if (frames * width + 10LL * frames + 20 > kMaxWindowExtent ||
        3 * height + 50 > kMaxWindowExtent) {
        ShowError(&form, QString::fromLatin1(kTooManyFrames));
        return std::nullopt;
    }
    // The frame window holds three pictures a frame, each of the picture's size.
    CheckMemoryFor(PictureBytes(width, height, sizeof(Colour), 3LL * frames),
                   "This build of " + std::to_string(frames) + " frames of " +
                       std::to_string(width) + " x " + std::to_string(height) + " pixels needs");
    return frames;
}

// While a warped build yields to the event loop, nothing may load pictures, change lines or
// start another build, and the animation window may not copy the half-built frames. Disables
// what leads there, in the main window and in the Line Properies dialog, and puts every state
// back when it ends, also when the build stops on an error. The four build and view entries
// are left to SetBuildMenus: a cancel sets them inside the build, and the Build menu itself
// stays closed. View > Line Influence follows them once the build is over; until then it and
// its window wait, as they read what the build records. The Properties window stays usable:
// the build reads its settings as it goes.
class WarpedBuildLock {
  public:
    explicit WarpedBuildLock(TForm1& form) : form_(form) {
        form_.WarpedBuildRunning = true;
        if (Form9) {
            Form9->SetLinesLocked(true);
        }
        for (QAction* action :
             {form.Source1->menuAction(), form.Morphing1->menuAction(), form.Load1, form.Targe1,
              form.ClearLinesSource1, form.ClearLinesTarget1, form.PutLinesSouorce1,
              form.PutLinesTarget1, form.Properties2, form.AnimatorvQv1, form.OpenMorph1,
              form.SaveMorph1, form.SaveMorphAs1, form.Undo1, form.Redo1, form.WarpOptions1}) {
            actions_.emplace_back(action, action->isEnabled());
            action->setEnabled(false);
        }
        const std::initializer_list<QWidget*> widgets{
            form.Button1, form.Button4, form.Button2, form.Button3,         form.Button5,
            form.Button6, form.Image1,  form.Image2,  form.WarpOptionsForm, form.LineInfluenceForm};
        for (QWidget* widget : widgets) {
            widgets_.emplace_back(widget, widget->isEnabled());
            widget->setEnabled(false);
        }
        form.LineInfluence1->setEnabled(false);
    }
    ~WarpedBuildLock() {
        for (const auto& [action, enabled] : actions_) {
            action->setEnabled(enabled);
        }
        for (const auto& [widget, enabled] : widgets_) {
            widget->setEnabled(enabled);
        }
        if (Form9) {
            Form9->SetLinesLocked(false);
        }
        form_.WarpedBuildRunning = false;
        form_.UpdateLineInfluenceItem();
    }
    WarpedBuildLock(const WarpedBuildLock&) = delete;
    WarpedBuildLock& operator=(const WarpedBuildLock&) = delete;

  private:
    TForm1& form_;
    std::vector<std::pair<QAction*, bool>> actions_;
    std::vector<std::pair<QWidget*, bool>> widgets_;
};

// A side's picture as the build reads it: the loaded picture, or, when none was loaded, the
// white picture of the control's size that drawing on it would give.
Bitmap BuildPicture(const Bitmap& clean, const PictureBox* control) {
    if (!clean.empty()) {
        return clean;
    }
    return Bitmap(control->width(), control->height());
}

void ShowWindow(QWidget* window) {
    if (window) {
        window->show();
        window->raise();
    }
}

} // namespace

void TForm1::Bui1Click() {
    if (WarpedBuildRunning) {
        return;
    }
    const std::optional<int> frames = CheckedFrameCount(*this);
    if (!frames) {
        return;
    }
    BuildLinesWindow(*frames, SourceLineCount);
    Form3->Open();
    SetBuildMenus(true, true, true, false);
}

void TForm1::WarpedImages1Click() {
    if (WarpedBuildRunning) {
        return;
    }
    const std::optional<int> frames = CheckedFrameCount(*this);
    if (!frames) {
        return;
    }
    const int lines = SourceLineCount;
    // The warp reads the line sets of the last lines build; they must be those of this build.
    if (FrameLineSets.size() != std::size_t(*frames) || FrameLineCount != lines) {
        ShowError(this, QString::fromLatin1(kLinesChanged));
        return;
    }
    if (Form2->RefreshRate() < 1) {
        ShowError(this, QString::fromLatin1(kRefreshBelowOne));
        return;
    }
    {
        WarpedBuildLock lock(*this);
        BuildImagesWindow(*frames, lines);
    }
    SetBuildMenus(true, true, true, true);
    if (LineInfluenceForm->isVisible()) {
        LineInfluenceForm->ShowBuild(LastWarpedBuild); // it showed the build before
    }
}

void TForm1::InterpolatedLines1Click() {
    ShowWindow(LinesWindow);
    Form3->Open();
}

void TForm1::WarpedImages2Click() {
    ShowWindow(ImagesWindow);
}

void TForm1::LineInfluence1Click() {
    if (WarpedBuildRunning || !LastWarpedBuild || LastWarpedBuild->Frames() == 0) {
        return;
    }
    LineInfluenceForm->Open(LastWarpedBuild);
}

void TForm1::BuildFrameWindow(FrameWindow* window, int width, int height, int frames, TArImage& top,
                              TArImage& middle, TArImage& bottom) {
    window->SetFrameSize(FrameWindowSize(width, height, frames));
    auto fill = [&](TArImage& row, int rowTop) {
        row.assign(std::size_t(frames), nullptr);
        for (int i = 0; i < frames; ++i) {
            row[std::size_t(i)] = window->AddPicture(10 + i * (width + 10), rowTop, width, height);
        }
    };
    fill(middle, height + 20);
    fill(top, 10);
    fill(bottom, 2 * height + 30);
    window->show();
}

void TForm1::BuildLinesWindow(int frames, int lines) {
    auto* window = new FrameWindow(QStringLiteral(" Lines "), this);
    window->setObjectName(QStringLiteral("LinesWindow"));
    LinesWindow = window;
    BuildFrameWindow(window, Image1->width(), Image1->height(), frames, LineFramesTop,
                     LineFramesMiddle, LineFramesBottom);
    DrawFrameLines(window, lines, frames);
}

void TForm1::BuildImagesWindow(int frames, int lines) {
    auto* window = new FrameWindow(QStringLiteral(" Images "), this);
    window->setObjectName(QStringLiteral("ImagesWindow"));
    ImagesWindow = window;
    BuildFrameWindow(window, Image1->width(), Image1->height(), frames, WarpedSourceFrames,
                     MorphFrames, WarpedTargetFrames);
    BuildWarpedFrames(window, lines, frames);
}

void TForm1::DrawFrameLines(FrameWindow* /*window*/, int lines, int frames) {
    const double step = FrameStep(frames);
    const InterpolationMode mode =
        Form2->EndPointsMode() ? InterpolationMode::EndPoints : InterpolationMode::MiddlePoints;
    FrameLineSets = BuildFrameLineSets(SourceLines, TargetLines, step, lines, mode, frames,
                                       Image1->width(), Image1->height());
    FrameLineCount = lines;
    for (int i = 0; i < frames; ++i) {
        const LineSet& set = FrameLineSets[std::size_t(i)];
        for (TArImage* row : {&LineFramesMiddle, &LineFramesTop, &LineFramesBottom}) {
            PictureBox* picture = (*row)[std::size_t(i)];
            Canvas& canvas = picture->canvas();
            for (int j = 0; j < lines; ++j) {
                Drawline(StartOf(set[j]), EndOf(set[j]), j, canvas, PenMode::Copy);
                DrawArrowHead(StartOf(set[j]), EndOf(set[j]), j, canvas, PenMode::Copy);
            }
            picture->update();
        }
    }
}

void TForm1::BuildWarpedFrames(FrameWindow* window, int lines, int frames) {
    Form4->Open();
    const Bitmap source = BuildPicture(CleanSourceBitmap, Image1);
    const Bitmap target = BuildPicture(CleanTargetBitmap, Image2);
    const std::size_t last = std::size_t(frames - 1);
    MorphFrames.front()->setPicture(source);
    WarpedSourceFrames.front()->setPicture(source);
    MorphFrames[last]->setPicture(target);
    WarpedTargetFrames[last]->setPicture(target);
    window->RepaintPictures();

    auto record = std::make_shared<WarpedBuildInputs>();
    record->source = source;
    record->target = target;
    record->lines = FrameLineSets;
    record->lineCount = lines;
    record->options = WarpChoices;
    LastWarpedBuild = record;

    const double step = FrameStep(frames);
    double t = 0;
    for (int k = 0; k < frames; ++k) {
        const std::size_t frame = std::size_t(k);
        if (k == 1 && !(MorphFrames.front()->bitmap() == record->source)) {
            record->laterSource = MorphFrames.front()->bitmap();
        }
        Form4->Label1->setText(QStringLiteral("Building Image ") + QString::number(k) +
                               QStringLiteral(" ..."));
        Morph(MorphFrames.front(), MorphFrames[last], MorphFrames[frame], WarpedSourceFrames[frame],
              WarpedTargetFrames[frame], FrameLineSets.front(), FrameLineSets[last],
              FrameLineSets[frame], lines - 1, t);
        window->RepaintPictures();
        t = t + step;
    }
    Form4->hide();
}

void TForm1::Morph(PictureBox* source, PictureBox* target, PictureBox* blend,
                   PictureBox* warpedSource, PictureBox* warpedTarget, LineSet sourceLines,
                   LineSet targetLines, LineSet frameLines, int lastLine, double t) {
    const WarpConstants constants{Form2->ConstantA(), Form2->ConstantB(), Form2->ConstantP()};
    WarpControl control;
    control.refreshStep = Form2->RefreshRate();
    // The user may retype the rate while a frame is built; it is read again at every step.
    control.readRefreshStep = [] { return Form2->RefreshRate(); };
    // The three pictures of the frame are shown column by column as the warp writes them:
    // each progress point repaints the columns written since the one before (column x of a
    // progress point holds only its first pixel yet, so it is repainted again next time).
    int shownFrom = 0;
    auto show = [&](int to) {
        const QRect columns(shownFrom, 0, to - shownFrom, blend->height());
        warpedSource->update(columns);
        warpedTarget->update(columns);
        blend->repaint(columns); // draws the other two in the same pass
    };
    control.progress = [&](int column) {
        show(column + 1);
        shownFrom = column;
        Form4->Advance();
        QCoreApplication::processEvents();
        // A main window closed meanwhile ends the program: stop as on Cancel.
        return Form4->CancelRequested || !isVisible();
    };
    const WarpOutputs out{blend->bitmap(), warpedSource->bitmap(), warpedTarget->bitmap()};
    const WarpInputs in{source->bitmap(), target->bitmap(), sourceLines, targetLines,
                        frameLines,       lastLine + 1,     t,           WarpChoices};
    // What this frame's warp reads besides the pictures and lines, for View > Line Influence.
    if (LastWarpedBuild) {
        LastWarpedBuild->t.push_back(t);
        LastWarpedBuild->constants.push_back(constants);
    }
    const WarpOutcome outcome = WarpFrame(out, in, constants, control);
    if (outcome == WarpOutcome::Cancelled) {
        SetBuildMenus(true, true, true, false);
        return;
    }
    show(blend->width());
}

} // namespace morph
