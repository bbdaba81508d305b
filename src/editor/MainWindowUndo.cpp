// The main window's undo and redo of the line sets: each step holds both sets before and after
// it and shows them again through the same drawing as the commands that made them.
#include "editor/MainWindow.h"

#include "editor/FloatingLinesWindow.h"
#include "editor/LineRendering.h"
#include "editor/Program.h"
#include "views/PropertiesWindow.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QUndoCommand>
#include <QUndoStack>

#include <algorithm>

namespace morph {

namespace {

// The Properties window's combo boxes start with three fixed entries; "Line n" follows.
constexpr int kFixedComboEntries = 3;

class LinesStep : public QUndoCommand {
  public:
    LinesStep(TForm1& form, const QString& name, const TForm1::LinesState& before,
              const TForm1::LinesState& after)
        : QUndoCommand(name), form_(form), before_(before), after_(after) {}

    void undo() override { form_.RestoreLines(before_); }
    void redo() override {
        // The command that made the step has already changed and shown the lines.
        if (done_) {
            form_.RestoreLines(after_);
        }
        done_ = true;
    }

  private:
    TForm1& form_;
    TForm1::LinesState before_;
    TForm1::LinesState after_;
    bool done_ = false;
};

} // namespace

TForm1::LinesState TForm1::CurrentLines() const {
    return {SourceLines, SourceLineCount, TargetLines, TargetLineCount};
}

void TForm1::RecordLinesStep(const QString& name, const LinesState& before) {
    const LinesState after = CurrentLines();
    if (after != before) {
        UndoStack->push(new LinesStep(*this, name, before, after));
    }
}

void TForm1::RestoreLines(const LinesState& state) {
    // A drag in progress would finish on lines that are no longer there.
    ButtonIsDown = false;
    if (state.source != SourceLines || state.sourceCount != SourceLineCount) {
        SourceLines = state.source;
        SourceLineCount = state.sourceCount;
        ShowSideLines(Side::Source);
    }
    if (state.target != TargetLines || state.targetCount != TargetLineCount) {
        TargetLines = state.target;
        TargetLineCount = state.targetCount;
        ShowSideLines(Side::Target);
    }
}

void TForm1::ShowSideLines(Side side) {
    SideParts p = Parts(side);
    const int count = *p.count;
    RedrawSide(side);
    // A hidden floating window gets the lines too, so that it shows them when it comes back.
    if (p.floating && !p.floating->isVisible()) {
        PictureBox* picture = p.floating->Image1;
        Canvas& canvas = picture->canvas();
        canvas.setBrushColour(kWhite);
        canvas.FillRect(0, 0, p.image->width(), p.image->height());
        DrawLineSet(*p.lines, count, canvas, PenMode::Copy);
        DrawLineNumbers(*p.lines, count, canvas);
        picture->update();
    }
    p.panel->setText(StatusText(count));

    if (!Form2) {
        return;
    }
    // The combo box must list "Line 1" .. "Line count": keep the entries that already read so,
    // rebuild them all otherwise.
    QComboBox* combo = side == Side::Source ? Form2->ComboBox1 : Form2->ComboBox2;
    int entries = combo->count() - kFixedComboEntries;
    bool inOrder = entries <= count;
    for (int k = 0; inOrder && k < entries; ++k) {
        inOrder = combo->itemText(kFixedComboEntries + k) ==
                  QStringLiteral("Line ") + QString::number(k + 1);
    }
    if (!inOrder) {
        Form2->RemoveLineEntries(side, entries);
        entries = 0;
    }
    for (int n = entries + 1; n <= count; ++n) {
        Form2->AddLineEntry(side, n);
    }
    // What the list under the combo box shows may have changed with the lines.
    if (combo->currentIndex() >= 0 && side == Side::Source) {
        Form2->ComboBox1Change();
    } else if (combo->currentIndex() >= 0) {
        Form2->ComboBox2Change();
    }
}

void TForm1::Undo1Click() {
    if (WarpedBuildRunning) {
        return;
    }
    UndoStack->undo();
}

void TForm1::Redo1Click() {
    if (WarpedBuildRunning) {
        return;
    }
    UndoStack->redo();
}

void TForm1::UpdateUndoItems() {
    const auto caption = [](const char* verb, const QString& step) {
        QString text = QString::fromLatin1(verb);
        if (!step.isEmpty()) {
            text += QLatin1Char(' ') + step;
        }
        return text;
    };
    Undo1->setText(caption("Undo", UndoStack->undoText()));
    Redo1->setText(caption("Redo", UndoStack->redoText()));
    // While a warped build runs the lock keeps both off and restores them afterwards.
    if (!WarpedBuildRunning) {
        Undo1->setEnabled(UndoStack->canUndo());
        Redo1->setEnabled(UndoStack->canRedo());
    }
}

} // namespace morph
