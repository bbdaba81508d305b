// The main window "Morphing": the Source and Target pictures, their control lines, the menus.
#pragma once

#include "editor/Side.h"
#include "engine/ControlLine.h"
#include "engine/Warp.h"
#include "platform/Bitmap.h"
#include "platform/gui/PictureBox.h"

#include <QMainWindow>
#include <QString>

#include <memory>
#include <vector>

class QAction;
class QUndoStack;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;

namespace morph {

class FloatingLinesWindow;
class LineInfluenceWindow;
class WarpOptionsDialog;
struct WarpedBuildInputs;

// A dynamic array of picture controls owned by the windows they sit on.
using TArImage = std::vector<PictureBox*>;

class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Control lines of both sides; valid lines fill slots 0..count-1.
    LineSet SourceLines{};
    int SourceLineCount = 0;
    LineSet TargetLines{};
    int TargetLineCount = 0;
    int MaxLines = 100;
    // The lines of every frame of the last lines build.
    morph::FrameLineSets FrameLineSets;

    // The pictures as loaded, never drawn on.
    Bitmap CleanSourceBitmap;
    Bitmap CleanTargetBitmap;

    bool SourceEditing = false;
    bool TargetEditing = false;
    // Shared drag state of both pictures.
    int EditIndex = 0;
    bool GrabbedStart = false;
    bool ButtonIsDown = false;

    TArImage MorphFrames;
    TArImage WarpedSourceFrames;
    TArImage WarpedTargetFrames;
    TArImage LineFramesTop;
    TArImage LineFramesMiddle;
    TArImage LineFramesBottom;
    QWidget* ImagesWindow = nullptr;
    QWidget* LinesWindow = nullptr;

    // Controls, under their designer names.
    QLabel* Label1;
    QLabel* Label2;
    QFrame* Bevel1;
    QFrame* Bevel2;
    QFrame* Bevel3;
    PictureBox* Image1;
    PictureBox* Image2;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* Button5;
    QPushButton* Button6;
    QLabel* Panel1;
    QLabel* Panel2;

    // Menus and their items.
    QMenu* Source1;
    QMenu* Morphing1;
    QMenu* Target1;
    QMenu* Lines1;
    QMenu* Play1;
    QMenu* Help1;
    QAction* Load1;
    QAction* Targe1;
    QAction* N1;
    QAction* Exit1;
    QAction* Bui1;
    QAction* WarpedImages1;
    QAction* InterpolatedLines1;
    QAction* WarpedImages2;
    QAction* N3;
    QAction* Load2;
    QAction* N4;
    QAction* Refresh1;
    QAction* ClearLinesSource1;
    QAction* ClearLinesTarget1;
    QAction* N5;
    QAction* PutLinesSouorce1;
    QAction* PutLinesTarget1;
    QAction* N6;
    QAction* Properties2;
    QAction* AnimatorvQv1;
    QAction* Properties1;
    QAction* N2;
    // Added after the items above: morph files, undo and redo, the mouse help.
    QAction* OpenMorph1;
    QAction* SaveMorph1;
    QAction* SaveMorphAs1;
    QAction* N7;
    QAction* Undo1;
    QAction* Redo1;
    QAction* MouseandKeys1;
    QAction* N8;
    QAction* WarpOptions1;
    // The dialog Build > Warp Options... opens.
    WarpOptionsDialog* WarpOptionsForm;
    // The warp options of the warped build, as Warp Options chose them or a morph file set them.
    WarpOptions WarpChoices;
    // View > Line Influence, after a separator at the end of View, and the window it opens.
    QAction* N9;
    QAction* LineInfluence1;
    LineInfluenceWindow* LineInfluenceForm;

    // side: 0 both, 1 the Target only, 2 the Source only.
    void MyFormCreate(int side);
    void SetBuildMenus(bool buildLines, bool buildImages, bool viewLines, bool viewImages);
    void ShowAnimator();
    // "<count> of <MaxLines> Maximum"
    QString StatusText(int count) const;

    // Everything of one side, so that the handlers of both sides share their steps.
    struct SideParts {
        PictureBox* image;
        QFrame* bevel;
        QPushButton* loadButton;
        QPushButton* modeButton;
        QLabel* panel;
        LineSet* lines;
        int* count;
        Bitmap* clean;
        bool* editing;
        FloatingLinesWindow* floating;
        const char* idleCaption; // the mode button's caption outside the mode
        const char* name;        // "Source" / "Target"
    };
    SideParts Parts(Side side);

    // Loading and clearing.
    void Load1Click();
    void Button1Click();
    void Targe1Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void ClearLinesSource1Click();
    void ClearLinesTarget1Click();
    void Image1DblClick();
    void Image2DblClick();
    // Other commands.
    void FormDblClick();
    void Load2Click();
    void Refresh1Click();
    void Exit1Click();
    void AnimatorvQv1Click();
    void Properties1Click();
    void Properties2Click();
    void MouseandKeys1Click();
    void WarpOptions1Click();

    // --- Line drawing with the mouse (MainWindowLines.cpp) ---
    void Button2Click();
    void Button3Click();
    void PutLinesSouorce1Click();
    void PutLinesTarget1Click();
    void Image1MouseDown(const PictureMouse& mouse);
    void Image1MouseMove(const PictureMouse& mouse);
    void Image1MouseUp(const PictureMouse& mouse);
    void Image2MouseDown(const PictureMouse& mouse);
    void Image2MouseMove(const PictureMouse& mouse);
    void Image2MouseUp(const PictureMouse& mouse);
    int FindNearestLine(Side side, int x, int y);
    // Rebuilds a side's picture and floating window from its clean picture and lines.
    void RedrawSide(Side side);
    // Start and end of the line being drawn or edited, shared by both pictures.
    QPoint DragStart;
    QPoint DragEnd;

  private:
    void ToggleLineMode(Side side);
    void PictureMouseDown(Side side, const PictureMouse& mouse);
    void PictureMouseMove(Side side, const PictureMouse& mouse);
    // `copied`: the release run on this side by a Shift-click on the other picture that has
    // just appended a copy of one of its lines here.
    void PictureMouseUp(Side side, const PictureMouse& mouse, bool copied);
    // The rubber band between DragStart and DragEnd in not-XOR, on the picture and the
    // floating window: drawing it twice leaves both as they were.
    void DrawBand(const SideParts& parts);
    void DeleteLine(Side side, int index);
    void CopyLineToOtherSide(Side from, int index, const PictureMouse& mouse);
    bool SideIsFull(int count) const;
    void ShowSideFull(Side side);
    // "Source 10,20 30,40"
    QString CoordinatesText(Side side, QPoint start, QPoint end);

  public:
    // --- end of line drawing ---

    // --- Builds and frame windows (MainWindowBuilds.cpp) ---
    void Bui1Click();
    void WarpedImages1Click();
    void InterpolatedLines1Click();
    void WarpedImages2Click();
    void LineInfluence1Click();
    // What the last warped build read for each frame it reached; set as it starts.
    std::shared_ptr<WarpedBuildInputs> LastWarpedBuild;
    // View > Line Influence is enabled while View > Warped Images is, outside a warped build,
    // when that build reached a frame.
    void UpdateLineInfluenceItem();
    // The line count of the last lines build: every element of FrameLineSets holds this many.
    int FrameLineCount = 0;
    // Set while a warped build runs; the commands that would change its inputs (or copy its
    // frames) are disabled, and refused should one be reached all the same.
    bool WarpedBuildRunning = false;
    // Sizes the window for `frames` pictures of width x height per row and fills the rows.
    void BuildFrameWindow(class FrameWindow* window, int width, int height, int frames,
                          TArImage& top, TArImage& middle, TArImage& bottom);
    void BuildLinesWindow(int frames, int lines);
    void BuildImagesWindow(int frames, int lines);
    void DrawFrameLines(class FrameWindow* window, int lines, int frames);
    void BuildWarpedFrames(class FrameWindow* window, int lines, int frames);
    // Renders one frame: the warp of every pixel into blend, warpedSource and warpedTarget,
    // showing progress and handling pending events every few columns.
    void Morph(PictureBox* source, PictureBox* target, PictureBox* blend, PictureBox* warpedSource,
               PictureBox* warpedTarget, LineSet sourceLines, LineSet targetLines,
               LineSet frameLines, int lastLine, double t);
    // --- end of builds ---

    // --- Morph files and drops (MainWindowMorphFiles.cpp) ---
    void OpenMorph1Click();
    void SaveMorph1Click();
    void SaveMorphAs1Click();
    // Opens a morph or lines file: both pictures as Load > Source / Target loads them, the
    // lines as if drawn, the settings into the Properties window. A file that does not read
    // changes nothing; a picture that does not load leaves its side's picture and is named in
    // a message after the rest has opened.
    void OpenMorphFile(const QString& path);
    // Writes the pictures' paths, the lines and the settings; a setting that does not convert
    // stops the save before anything is written.
    void SaveMorphFile(const QString& path);
    // Loads a picture into a side as Load > Source / Target does, as one undoable step.
    void LoadSideFrom(Side side, const QString& path);
    // The morph file Save Morph writes to; empty until one was opened or saved.
    QString MorphFileName;
    // The files the pictures were loaded from (absolute), empty while a side has none.
    QString SourcePictureFile;
    QString TargetPictureFile;

    // --- Undo and redo of the line sets (MainWindowUndo.cpp) ---
    struct LinesState {
        LineSet source{};
        int sourceCount = 0;
        LineSet target{};
        int targetCount = 0;
        bool operator==(const LinesState&) const = default;
    };
    LinesState CurrentLines() const;
    // Makes the change from `before` to the current lines one undoable step named `name`
    // ("Draw Source Line 3"); no step when nothing changed.
    void RecordLinesStep(const QString& name, const LinesState& before);
    // Puts the lines of `state` into the sides that differ and shows them as drawn.
    void RestoreLines(const LinesState& state);
    // Shows a side's lines everywhere they appear: the picture, the floating window (also a
    // hidden one), the status panel and the Properties window's "Line n" entries.
    void ShowSideLines(Side side);
    void Undo1Click();
    void Redo1Click();
    QUndoStack* UndoStack;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void LoadSide(Side side);
    // Puts a loaded picture into a side and resets the side, as a load does.
    void PutSidePicture(Side side, const Bitmap& picture, const QString& file);
    void UpdateUndoItems();
    void ClearSide(Side side, bool fromMenu);
    void ResetSide(Side side, bool touchProperties);
    void CentrePicture(PictureBox* image, QFrame* bevel);
    void SetFrameShape(QFrame* bevel, bool box);

    QWidget* client_;
};

} // namespace morph
