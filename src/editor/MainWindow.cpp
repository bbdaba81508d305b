#include "editor/MainWindow.h"

#include "animation/AnimationWindow.h"
#include "editor/FloatingLinesWindow.h"
#include "editor/LinePropertiesDialog.h"
#include "editor/Program.h"
#include "editor/SourceLinesWindow.h"
#include "editor/TargetLinesWindow.h"
#include "editor/WarpOptionsDialog.h"
#include "platform/QtImageIO.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/FormBuilder.h"
#include "views/FrameWindow.h"
#include "views/LineInfluenceWindow.h"
#include "views/PropertiesWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QUndoStack>

#include <algorithm>
#include <cmath>

namespace morph {

namespace {

int RoundHalf(double value) {
    return int(std::nearbyint(value));
}

// The picture filters of the load dialogs: bitmaps first, other formats are converted.
const char* const kPictureFilter =
    "Bmp files (*.bmp)|*.bmp|Pictures (*.png *.jpg *.jpeg)|*.png;*.jpg;*.jpeg|All files (*)|*";

} // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint) {
    client_ = SetUpMainForm(this, "Form1", kProgramTitle, {113, 121, 868, 391});

    const int sunkenPanel = QFrame::Panel | QFrame::Sunken;
    Label1 = Place<QLabel>(client_, "Label1", "Source", {180, 0, 51, 20});
    Label2 = Place<QLabel>(client_, "Label2", "Target", {632, 0, 46, 20});
    SetFontSize(Label1, 16);
    SetFontSize(Label2, 16);
    Bevel1 = Place<QFrame>(client_, "Bevel1", {8, 16, 417, 337});
    Bevel2 = Place<QFrame>(client_, "Bevel2", {440, 16, 417, 337});
    Bevel3 = PlaceFrame(client_, "Bevel3", {424, -16, 9, 401}, QFrame::VLine | QFrame::Sunken);
    Label1->raise();
    Label2->raise();
    Image1 = Place<PictureBox>(client_, "Image1", {136, 112, 164, 164});
    Image2 = Place<PictureBox>(client_, "Image2", {592, 112, 164, 164});
    Image1->setEnabled(false);
    Image2->setEnabled(false);
    Button1 = Place<QPushButton>(client_, "Button1", "Source", {176, 176, 75, 25});
    Button4 = Place<QPushButton>(client_, "Button4", "Target", {640, 176, 75, 25});
    Button2 = Place<QPushButton>(client_, "Button2", "Put Lines", {16, 360, 121, 25});
    Panel1 = PlaceFrame<QLabel>(client_, "Panel1", {152, 360, 121, 25}, sunkenPanel);
    Button5 = Place<QPushButton>(client_, "Button5", "Clear Source", {288, 360, 97, 25});
    Button3 = Place<QPushButton>(client_, "Button3", "Redraw Lines", {448, 360, 121, 25});
    Panel2 = PlaceFrame<QLabel>(client_, "Panel2", {576, 360, 121, 25}, sunkenPanel);
    Button6 = Place<QPushButton>(client_, "Button6", "Clear Target", {712, 360, 97, 25});
    Panel1->setAlignment(Qt::AlignCenter);
    Panel2->setAlignment(Qt::AlignCenter);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button5);
    setTabOrder(Button5, Button6);
    setTabOrder(Button6, Button1);
    setTabOrder(Button1, Button4);

    OnClick(Button1, this, &TForm1::Button1Click);
    OnClick(Button4, this, &TForm1::Button4Click);
    OnClick(Button5, this, &TForm1::Button5Click);
    OnClick(Button6, this, &TForm1::Button6Click);
    OnClick(Button2, this, &TForm1::Button2Click);
    OnClick(Button3, this, &TForm1::Button3Click);
    Image1->onMouseDown = [this](const PictureMouse& m) { Image1MouseDown(m); };
    Image1->onMouseMove = [this](const PictureMouse& m) { Image1MouseMove(m); };
    Image1->onMouseUp = [this](const PictureMouse& m) { Image1MouseUp(m); };
    Image2->onMouseDown = [this](const PictureMouse& m) { Image2MouseDown(m); };
    Image2->onMouseMove = [this](const PictureMouse& m) { Image2MouseMove(m); };
    Image2->onMouseUp = [this](const PictureMouse& m) { Image2MouseUp(m); };
    Image1->onDoubleClick = [this] { Image1DblClick(); };
    Image2->onDoubleClick = [this] { Image2DblClick(); };

    Source1 = AddMenu(menuBar(), "Source1", "Load");
    Load1 = AddItem(Source1, "Load1", "Source", this, &TForm1::Load1Click);
    Targe1 = AddItem(Source1, "Targe1", "Target", this, &TForm1::Targe1Click);
    OpenMorph1 = AddItem(Source1, "OpenMorph1", "Open Morph...", this, &TForm1::OpenMorph1Click);
    SaveMorph1 = AddItem(Source1, "SaveMorph1", "Save Morph...", this, &TForm1::SaveMorph1Click);
    SaveMorphAs1 =
        AddItem(Source1, "SaveMorphAs1", "Save Morph As...", this, &TForm1::SaveMorphAs1Click);
    OpenMorph1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    SaveMorph1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    N1 = AddSeparator(Source1, "N1");
    Exit1 = AddItem(Source1, "Exit1", "Exit", this, &TForm1::Exit1Click);
    Morphing1 = AddMenu(menuBar(), "Morphing1", "Build");
    Bui1 = AddItem(Morphing1, "Bui1", "Interpolated Lines", this, &TForm1::Bui1Click);
    WarpedImages1 =
        AddItem(Morphing1, "WarpedImages1", "Warped Images", this, &TForm1::WarpedImages1Click);
    N8 = AddSeparator(Morphing1, "N8");
    WarpOptions1 =
        AddItem(Morphing1, "WarpOptions1", "Warp Options...", this, &TForm1::WarpOptions1Click);
    Target1 = AddMenu(menuBar(), "Target1", "View");
    InterpolatedLines1 = AddItem(Target1, "InterpolatedLines1", "Interpolated Lines", this,
                                 &TForm1::InterpolatedLines1Click);
    WarpedImages2 =
        AddItem(Target1, "WarpedImages2", "Warped Images", this, &TForm1::WarpedImages2Click);
    N3 = AddSeparator(Target1, "N3");
    Load2 = AddItem(Target1, "Load2", "Properties Window", this, &TForm1::Load2Click);
    N4 = AddSeparator(Target1, "N4");
    Refresh1 = AddItem(Target1, "Refresh1", "Refresh", this, &TForm1::Refresh1Click);
    N9 = AddSeparator(Target1, "N9");
    LineInfluence1 =
        AddItem(Target1, "LineInfluence1", "Line Influence", this, &TForm1::LineInfluence1Click);
    LineInfluence1->setEnabled(false);
    Lines1 = AddMenu(menuBar(), "Lines1", "Lines");
    ClearLinesSource1 = AddItem(Lines1, "ClearLinesSource1", "Clear Lines Source", this,
                                &TForm1::ClearLinesSource1Click);
    ClearLinesTarget1 = AddItem(Lines1, "ClearLinesTarget1", "Clear Lines Target", this,
                                &TForm1::ClearLinesTarget1Click);
    N5 = AddSeparator(Lines1, "N5");
    PutLinesSouorce1 = AddItem(Lines1, "PutLinesSouorce1", "Put Lines Source", this,
                               &TForm1::PutLinesSouorce1Click);
    PutLinesTarget1 =
        AddItem(Lines1, "PutLinesTarget1", "Put Lines Target", this, &TForm1::PutLinesTarget1Click);
    N6 = AddSeparator(Lines1, "N6");
    Properties2 = AddItem(Lines1, "Properties2", "Properties", this, &TForm1::Properties2Click);
    N7 = AddSeparator(Lines1, "N7");
    Undo1 = AddItem(Lines1, "Undo1", "Undo", this, &TForm1::Undo1Click);
    Redo1 = AddItem(Lines1, "Redo1", "Redo", this, &TForm1::Redo1Click);
    Undo1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    Redo1->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    Play1 = AddMenu(menuBar(), "Play1", "Play");
    AnimatorvQv1 = AddItem(Play1, "AnimatorvQv1", "Animator vQv", this, &TForm1::AnimatorvQv1Click);
    Help1 = AddMenu(menuBar(), "Help1", "Help");
    Properties1 = AddItem(Help1, "Properties1", "Info", this, &TForm1::Properties1Click);
    N2 = AddSeparator(Help1, "N2");
    MouseandKeys1 =
        AddItem(Help1, "MouseandKeys1", "Mouse and Keys", this, &TForm1::MouseandKeys1Click);

    WarpOptionsForm = new WarpOptionsDialog(this);
    WarpOptionsForm->onAccept = [this](const WarpOptions& chosen) { WarpChoices = chosen; };
    LineInfluenceForm = new LineInfluenceWindow(this);
    LineInfluenceForm->busy = [this] { return WarpedBuildRunning; };

    UndoStack = new QUndoStack(this);
    connect(UndoStack, &QUndoStack::indexChanged, this, [this] { UpdateUndoItems(); });
    connect(UndoStack, &QUndoStack::cleanChanged, this, [this] { UpdateUndoItems(); });
    UpdateUndoItems();
    // Picture and morph files dropped on the window open as the Load menu opens them.
    setAcceptDrops(true);

    // FormCreate
    MorphFrames.assign(2, nullptr);
    Button4->setVisible(true);
    Button1->setVisible(true);
    MyFormCreate(0);
}

TForm1::~TForm1() {
    // The undo stack, a child, is cleared after the menus are gone: it must not caption them.
    UndoStack->disconnect(this);
}

QString TForm1::StatusText(int count) const {
    return QString::number(count) + QStringLiteral(" of ") + QString::number(MaxLines) +
           QStringLiteral(" Maximum");
}

TForm1::SideParts TForm1::Parts(Side side) {
    if (side == Side::Source) {
        return {Image1,         Bevel1,       Button1,          Button2,
                Panel1,         &SourceLines, &SourceLineCount, &CleanSourceBitmap,
                &SourceEditing, Form6,        "Put Lines",      "Source"};
    }
    return {Image2,         Bevel2,       Button4,          Button3,
            Panel2,         &TargetLines, &TargetLineCount, &CleanTargetBitmap,
            &TargetEditing, Form7,        "Redraw Lines",   "Target"};
}

void TForm1::CentrePicture(PictureBox* image, QFrame* bevel) {
    const QRect frame = bevel->geometry();
    const int top =
        RoundHalf(frame.height() / 2.0) + frame.top() - RoundHalf(image->height() / 2.0);
    const int left =
        RoundHalf(frame.width() / 2.0) + frame.left() - RoundHalf(image->width() / 2.0);
    image->move(left, top);
}

void TForm1::SetFrameShape(QFrame* bevel, bool box) {
    bevel->setFrameStyle(box ? (QFrame::Box | QFrame::Sunken) : QFrame::NoFrame);
}

void TForm1::ResetSide(Side side, bool touchProperties) {
    SideParts p = Parts(side);
    CentrePicture(p.image, p.bevel);
    p.image->setEnabled(false);
    *p.editing = false;
    *p.count = 0;
    *p.clean = p.image->bitmap();
    auto* frame = new PictureBox(this);
    frame->setVisible(false);
    frame->setPicture(*p.clean);
    PictureBox*& slot = side == Side::Source ? MorphFrames.front() : MorphFrames.back();
    if (slot && slot->parent() == this) {
        slot->deleteLater(); // only the main window's own copies; built frames belong to their
                             // window
    }
    slot = frame;
    p.panel->setText(StatusText(0));
    SetFrameShape(p.bevel, true);
    if (touchProperties && Form2) {
        Form2->ResetSideGroup(side);
    }
}

void TForm1::MyFormCreate(int side) {
    MaxLines = 100;
    if (side != 1) {
        ResetSide(Side::Source, side != 0);
    }
    if (side != 2) {
        ResetSide(Side::Target, side != 0);
    }
}

void TForm1::SetBuildMenus(bool buildLines, bool buildImages, bool viewLines, bool viewImages) {
    Bui1->setEnabled(buildLines);
    WarpedImages1->setEnabled(buildImages);
    InterpolatedLines1->setEnabled(viewLines);
    WarpedImages2->setEnabled(viewImages);
    UpdateLineInfluenceItem();
}

void TForm1::UpdateLineInfluenceItem() {
    LineInfluence1->setEnabled(WarpedImages2->isEnabled() && !WarpedBuildRunning &&
                               LastWarpedBuild && LastWarpedBuild->Frames() > 0);
}

void TForm1::ShowAnimator() {
    if (WarpedBuildRunning) {
        return; // its showing would copy frames that are still being built
    }
    Form5->setEnabled(true);
    Form5->show();
    Form5->raise();
}

void TForm1::LoadSide(Side side) {
    if (WarpedBuildRunning) {
        return;
    }
    const std::optional<QString> file = RunOpenDialog(this, QString::fromLatin1(kPictureFilter));
    if (!file) {
        return;
    }
    LoadSideFrom(side, *file);
}

void TForm1::LoadSideFrom(Side side, const QString& path) {
    if (WarpedBuildRunning) {
        return;
    }
    // A file that is not a picture raises here, before anything of the side changes.
    const Bitmap picture = LoadPicture(path.toStdString());
    const LinesState before = CurrentLines();
    PutSidePicture(side, picture, path);
    RecordLinesStep(QStringLiteral("Load ") + QString::fromLatin1(Parts(side).name), before);
}

void TForm1::PutSidePicture(Side side, const Bitmap& picture, const QString& file) {
    SideParts p = Parts(side);
    p.image->setPicture(picture);
    p.loadButton->hide();
    MyFormCreate(side == Side::Source ? 2 : 1);
    // The reset leaves the line-drawing mode; show that, rather than an "Ok" button and a
    // floating window that no longer draw anything.
    p.modeButton->setText(QString::fromLatin1(p.idleCaption));
    if (p.floating && p.floating->isVisible()) {
        p.floating->setWindowTitle(QString::fromLatin1(p.name));
        p.floating->hide();
    }
    (side == Side::Source ? SourcePictureFile : TargetPictureFile) =
        QFileInfo(file).absoluteFilePath();
    // The floating window keeps its picture while hidden and shows it again when the side
    // re-enters the drawing mode: it must not keep the lines the reset removed.
    ShowSideLines(side);
}

void TForm1::Load1Click() {
    LoadSide(Side::Source);
}
void TForm1::Button1Click() {
    Load1Click();
}
void TForm1::Targe1Click() {
    LoadSide(Side::Target);
}
void TForm1::Button4Click() {
    Targe1Click();
}

void TForm1::ClearSide(Side side, bool fromMenu) {
    if (WarpedBuildRunning) {
        return;
    }
    const LinesState before = CurrentLines();
    SideParts p = Parts(side);
    p.image->setPicture(*p.clean);
    p.image->refresh();
    SetFrameShape(p.bevel, true);
    p.bevel->repaint();
    p.image->setEnabled(false);
    p.modeButton->setText(QString::fromLatin1(p.idleCaption));
    *p.editing = false;
    if (p.floating && (fromMenu || p.floating->isVisible())) {
        Canvas& canvas = p.floating->Image1->canvas();
        canvas.setBrushColour(kWhite);
        canvas.FillRect(0, 0, p.image->width(), p.image->height());
        if (!fromMenu) {
            p.floating->setWindowTitle(QString::fromLatin1(p.name));
        }
        p.floating->hide();
    }
    if (Form2) {
        Form2->RemoveLineEntries(side, *p.count);
    }
    for (int i = 0; i < *p.count && i < LineSlots; ++i) {
        (*p.lines)[i] = ControlLine{};
    }
    *p.count = 0;
    p.panel->setText(StatusText(0));
    RecordLinesStep(
        QStringLiteral("Clear ") + QString::fromLatin1(p.name) + QStringLiteral(" Lines"), before);
}

void TForm1::Button5Click() {
    ClearSide(Side::Source, false);
}
void TForm1::Button6Click() {
    ClearSide(Side::Target, false);
}
void TForm1::ClearLinesSource1Click() {
    ClearSide(Side::Source, true);
}
void TForm1::ClearLinesTarget1Click() {
    ClearSide(Side::Target, true);
}
void TForm1::Image1DblClick() {
    RunCommand([this] { Button5Click(); });
}
void TForm1::Image2DblClick() {
    RunCommand([this] { Button6Click(); });
}

void TForm1::FormDblClick() {
    Load2Click();
}

void TForm1::Load2Click() {
    Form2->show();
    Form2->raise();
    Form2->activateWindow();
    Form2->setFocus();
}

void TForm1::Refresh1Click() {
    RepaintWithControls(this);
    // The frame windows the builds made show pictures too; repaint those on screen.
    for (FrameWindow* window : findChildren<FrameWindow*>(Qt::FindDirectChildrenOnly)) {
        if (window->isVisible()) {
            window->RepaintPictures();
        }
    }
}

void TForm1::Exit1Click() {
    close();
}

void TForm1::AnimatorvQv1Click() {
    ShowAnimator();
}

void TForm1::Properties1Click() {
    QString text = QStringLiteral(" Frames:") + Form2->Edit4->text() +
                   QStringLiteral("  Sourse Lines:") + QString::number(SourceLineCount) +
                   QStringLiteral("  Target Lines:") + QString::number(TargetLineCount);
    // The warp options only when they change the look of the frames.
    if (!WarpChoices.isDefault()) {
        text += QStringLiteral("\n Warp Options: distance ") +
                (WarpChoices.distance == WarpDistance::Line ? QStringLiteral("line")
                                                            : QStringLiteral("segment")) +
                QStringLiteral(", sampling ") +
                (WarpChoices.sampling == WarpSampling::Nearest ? QStringLiteral("nearest")
                                                               : QStringLiteral("bilinear")) +
                QStringLiteral(", supersample ") + QString::number(WarpChoices.supersample);
    }
    ShowInformation(this, text);
}

void TForm1::WarpOptions1Click() {
    if (WarpedBuildRunning) {
        return; // the build reads the options as it goes
    }
    WarpOptionsForm->Open(WarpChoices);
}

void TForm1::MouseandKeys1Click() {
    ShowInformation(
        this,
        QStringLiteral(
            "Drawing lines: Put Lines (Source) or Redraw Lines (Target) lets the picture take "
            "the mouse; Ok ends it.\n"
            "  Drag: draws a line from where the button goes down to where it comes up.\n"
            "  Ctrl+drag from near an end point: moves that end point.\n"
            "  Shift+right-click: deletes the nearest line.\n"
            "  Shift+click: copies the nearest line to the end of the other side.\n"
            "  Double-click on the picture: clears the side's lines.\n"
            "  Double-click beside the pictures: shows the Properties window.\n"
            "Files: drop a picture on the Source or Target half to load it there; drop a "
            ".morph file to open it.\n"
            "Keys:\n"
            "  Ctrl+O  Open Morph...\n"
            "  Ctrl+S  Save Morph...\n"
            "  Ctrl+Z  Undo\n"
            "  Ctrl+Shift+Z, Ctrl+Y  Redo"));
}

void TForm1::Properties2Click() {
    Form9->show();
    Form9->raise();
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (event->spontaneous()) {
        return; // the window system restoring the window is not the program showing it
    }
    Form2->show();
    Form6->hide();
    Form7->hide();
    SetBuildMenus(true, false, false, false);
    Load2Click();
}

void TForm1::closeEvent(QCloseEvent* event) {
    event->accept();
    QApplication::quit();
}

void TForm1::mouseDoubleClickEvent(QMouseEvent* event) {
    QMainWindow::mouseDoubleClickEvent(event);
    RunCommand([this] { FormDblClick(); });
}

} // namespace morph
