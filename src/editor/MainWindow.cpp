#include "editor/MainWindow.h"

#include "animation/AnimationWindow.h"
#include "editor/FloatingLinesWindow.h"
#include "editor/LinePropertiesDialog.h"
#include "editor/Program.h"
#include "editor/SourceLinesWindow.h"
#include "editor/TargetLinesWindow.h"
#include "platform/QtImageIO.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "views/FrameWindow.h"
#include "views/PropertiesWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QShowEvent>

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
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kProgramTitle));
    client_ = new QWidget(this);
    client_->setFixedSize(868, 391);
    client_->setAutoFillBackground(true);
    setCentralWidget(client_);

    auto label = [this](const char* name, const char* caption, QRect geometry) {
        auto* l = new QLabel(QString::fromLatin1(caption), client_);
        l->setObjectName(QString::fromLatin1(name));
        l->setFont(ProgramFont(l->font(), 16));
        l->setGeometry(geometry);
        return l;
    };
    auto bevel = [this](const char* name, QRect geometry) {
        auto* b = new QFrame(client_);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(geometry);
        return b;
    };
    auto button = [this](const char* name, const char* caption, QRect geometry) {
        auto* b = new QPushButton(QString::fromLatin1(caption), client_);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(geometry);
        return b;
    };
    auto panel = [this](const char* name, QRect geometry) {
        auto* p = new QLabel(client_);
        p->setObjectName(QString::fromLatin1(name));
        p->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        p->setAlignment(Qt::AlignCenter);
        p->setGeometry(geometry);
        return p;
    };
    auto picture = [this](const char* name, QRect geometry) {
        auto* p = new PictureBox(client_);
        p->setObjectName(QString::fromLatin1(name));
        p->setGeometry(geometry);
        p->setEnabled(false);
        return p;
    };

    Label1 = label("Label1", "Source", {180, 0, 51, 20});
    Label2 = label("Label2", "Target", {632, 0, 46, 20});
    Bevel1 = bevel("Bevel1", {8, 16, 417, 337});
    Bevel2 = bevel("Bevel2", {440, 16, 417, 337});
    Bevel3 = bevel("Bevel3", {424, -16, 9, 401});
    Bevel3->setFrameStyle(QFrame::VLine | QFrame::Sunken);
    Label1->raise();
    Label2->raise();
    Image1 = picture("Image1", {136, 112, 164, 164});
    Image2 = picture("Image2", {592, 112, 164, 164});
    Button1 = button("Button1", "Source", {176, 176, 75, 25});
    Button4 = button("Button4", "Target", {640, 176, 75, 25});
    Button2 = button("Button2", "Put Lines", {16, 360, 121, 25});
    Panel1 = panel("Panel1", {152, 360, 121, 25});
    Button5 = button("Button5", "Clear Source", {288, 360, 97, 25});
    Button3 = button("Button3", "Redraw Lines", {448, 360, 121, 25});
    Panel2 = panel("Panel2", {576, 360, 121, 25});
    Button6 = button("Button6", "Clear Target", {712, 360, 97, 25});
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Button5);
    setTabOrder(Button5, Button6);
    setTabOrder(Button6, Button1);
    setTabOrder(Button1, Button4);

    auto connectButton = [this](QPushButton* b, void (TForm1::*handler)()) {
        connect(b, &QPushButton::clicked, this,
                [this, handler] { RunCommand([&] { (this->*handler)(); }); });
    };
    connectButton(Button1, &TForm1::Button1Click);
    connectButton(Button4, &TForm1::Button4Click);
    connectButton(Button5, &TForm1::Button5Click);
    connectButton(Button6, &TForm1::Button6Click);
    connectButton(Button2, &TForm1::Button2Click);
    connectButton(Button3, &TForm1::Button3Click);
    Image1->onMouseDown = [this](const PictureMouse& m) { Image1MouseDown(m); };
    Image1->onMouseMove = [this](const PictureMouse& m) { Image1MouseMove(m); };
    Image1->onMouseUp = [this](const PictureMouse& m) { Image1MouseUp(m); };
    Image2->onMouseDown = [this](const PictureMouse& m) { Image2MouseDown(m); };
    Image2->onMouseMove = [this](const PictureMouse& m) { Image2MouseMove(m); };
    Image2->onMouseUp = [this](const PictureMouse& m) { Image2MouseUp(m); };
    Image1->onDoubleClick = [this] { Image1DblClick(); };
    Image2->onDoubleClick = [this] { Image2DblClick(); };

    auto menu = [this](const char* name, const char* caption) {
        QMenu* m = menuBar()->addMenu(QString::fromLatin1(caption));
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };
    auto item = [this](QMenu* m, const char* name, const char* caption, void (TForm1::*handler)()) {
        QAction* a = m->addAction(QString::fromLatin1(caption));
        a->setObjectName(QString::fromLatin1(name));
        if (handler) {
            connect(a, &QAction::triggered, this,
                    [this, handler] { RunCommand([&] { (this->*handler)(); }); });
        }
        return a;
    };
    auto separator = [](QMenu* m, const char* name) {
        QAction* a = m->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    Source1 = menu("Source1", "Load");
    Load1 = item(Source1, "Load1", "Source", &TForm1::Load1Click);
    Targe1 = item(Source1, "Targe1", "Target", &TForm1::Targe1Click);
    N1 = separator(Source1, "N1");
    Exit1 = item(Source1, "Exit1", "Exit", &TForm1::Exit1Click);
    Morphing1 = menu("Morphing1", "Build");
    Bui1 = item(Morphing1, "Bui1", "Interpolated Lines", &TForm1::Bui1Click);
    WarpedImages1 = item(Morphing1, "WarpedImages1", "Warped Images", &TForm1::WarpedImages1Click);
    Target1 = menu("Target1", "View");
    InterpolatedLines1 =
        item(Target1, "InterpolatedLines1", "Interpolated Lines", &TForm1::InterpolatedLines1Click);
    WarpedImages2 = item(Target1, "WarpedImages2", "Warped Images", &TForm1::WarpedImages2Click);
    N3 = separator(Target1, "N3");
    Load2 = item(Target1, "Load2", "Properties Window", &TForm1::Load2Click);
    N4 = separator(Target1, "N4");
    Refresh1 = item(Target1, "Refresh1", "Refresh", &TForm1::Refresh1Click);
    Lines1 = menu("Lines1", "Lines");
    ClearLinesSource1 =
        item(Lines1, "ClearLinesSource1", "Clear Lines Source", &TForm1::ClearLinesSource1Click);
    ClearLinesTarget1 =
        item(Lines1, "ClearLinesTarget1", "Clear Lines Target", &TForm1::ClearLinesTarget1Click);
    N5 = separator(Lines1, "N5");
    PutLinesSouorce1 =
        item(Lines1, "PutLinesSouorce1", "Put Lines Source", &TForm1::PutLinesSouorce1Click);
    PutLinesTarget1 =
        item(Lines1, "PutLinesTarget1", "Put Lines Target", &TForm1::PutLinesTarget1Click);
    N6 = separator(Lines1, "N6");
    Properties2 = item(Lines1, "Properties2", "Properties", &TForm1::Properties2Click);
    Play1 = menu("Play1", "Play");
    AnimatorvQv1 = item(Play1, "AnimatorvQv1", "Animator vQv", &TForm1::AnimatorvQv1Click);
    Help1 = menu("Help1", "Help");
    Properties1 = item(Help1, "Properties1", "Info", &TForm1::Properties1Click);
    N2 = separator(Help1, "N2");

    layout()->setSizeConstraint(QLayout::SetFixedSize);
    move(113, 121);

    // FormCreate
    MorphFrames.assign(2, nullptr);
    Button4->setVisible(true);
    Button1->setVisible(true);
    MyFormCreate(0);
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
    // A file that is not a picture raises here, before anything of the side changes.
    const Bitmap picture = LoadPicture(file->toStdString());
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
    ShowInformation(this, QStringLiteral(" Frames:") + Form2->Edit4->text() +
                              QStringLiteral("  Sourse Lines:") + QString::number(SourceLineCount) +
                              QStringLiteral("  Target Lines:") + QString::number(TargetLineCount));
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
