#include "animation/AnimationWindow.h"

#include "animation/PutNewFileDialog.h"
#include "animation/VqvCodec.h"
#include "editor/Program.h"
#include "platform/Convert.h"
#include "platform/QtImageIO.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/FormBuilder.h"
#include "views/PropertiesWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>

namespace morph {

namespace {

const char* const kVqvFilter = "vQv files (*.vQv)|*.vQv";
// Bitmaps first; other picture formats are converted as the main window's loads do.
const char* const kPictureFilter =
    "Bmp files (*.bmp)|*.bmp|Pictures (*.png *.jpg *.jpeg)|*.png;*.jpg;*.jpeg|All files (*)|*";

int RoundHalf(double value) {
    return int(std::nearbyint(value));
}

QString SizeText(const QString& lead, int height, int width) {
    return lead + QString::number(height) + QStringLiteral("  Width:") + QString::number(width);
}

// Blanks the status label however a file command ends, so that a refused or unreadable
// file does not leave "Opening File..." behind.
class StatusBlanker {
  public:
    explicit StatusBlanker(TForm5* window) : window_(window) {}
    ~StatusBlanker() { window_->SetStatus(QStringLiteral(" ")); }
    StatusBlanker(const StatusBlanker&) = delete;
    StatusBlanker& operator=(const StatusBlanker&) = delete;

  private:
    TForm5* window_;
};

// The Put New File window of an earlier load offers that load's frames, and this load
// replaces them or leaves them stale: unless it succeeds, the window is closed (at once when
// the load is refused, on the way out when it fails), so that its Ok never has nothing to put.
class LoadOutcome {
  public:
    LoadOutcome() = default;
    ~LoadOutcome() {
        if (!loaded_) {
            Refused();
        }
    }
    LoadOutcome(const LoadOutcome&) = delete;
    LoadOutcome& operator=(const LoadOutcome&) = delete;

    void Loaded() { loaded_ = true; }
    void Refused() const {
        if (Form8) {
            Form8->hide();
        }
    }

  private:
    bool loaded_ = false;
};

} // namespace

QString WithExtension(const QString& name, const QString& extension) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot < 0 ? name : name.left(dot)) + extension;
}

TForm5::TForm5(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint) {
    client_ = SetUpMainForm(this, "Form5", "Animation vQv", {242, 123, 438, 495});

    const int sunken = QFrame::Box | QFrame::Sunken;
    Bevel1 = PlaceFrame(client_, "Bevel1", {8, 8, 417, 337}, sunken);
    Image1 = Place<PictureBox>(client_, "Image1", {8, 8, 417, 337});
    // The picture keeps the size ResetPlayer gives it; frames are shown unscaled in it.
    Image1->setAutoSize(false);
    TrackBar1 = Place<QSlider>(client_, "TrackBar1", {0, 352, 433, 41}, Qt::Horizontal);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setTickInterval(1);
    TrackBar1->setSingleStep(1);
    TrackBar1->setPageStep(2);
    TrackBar1->setRange(0, 10);
    Bevel2 = PlaceFrame(client_, "Bevel2", {8, 400, 161, 49}, sunken);
    Button1 = Place<QPushButton>(client_, "Button1", "Play", {24, 408, 57, 33});
    Button2 = Place<QPushButton>(client_, "Button2", "Stop", {96, 408, 57, 33});
    Bevel3 = PlaceFrame(client_, "Bevel3", {264, 400, 161, 49}, sunken);
    Button3 = Place<QPushButton>(client_, "Button3", "Start", {280, 408, 57, 33});
    Button4 = Place<QPushButton>(client_, "Button4", "End", {352, 408, 57, 33});
    Label1 = Place<QLabel>(client_, "Label1", "Period", {24, 464, 46, 24});
    SetFontSize(Label1, 13);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Edit1 = Place<QLineEdit>(client_, "Edit1", "2", {72, 464, 41, 24});
    SetFontSize(Edit1, 13);
    Edit1->setReadOnly(true);
    UpDown1 = Place<UpDown>(client_, "UpDown1", {112, 464, 17, 25});
    Label2 = Place<QLabel>(client_, "Label2", " ", {168, 472, 176, 16});
    Button5 = Place<QPushButton>(client_, "Button5", "Close", {352, 456, 73, 33});

    OnClick(Button1, this, &TForm5::Button1Click);
    OnClick(Button2, this, &TForm5::Button2Click);
    OnClick(Button3, this, &TForm5::Button3Click);
    OnClick(Button4, this, &TForm5::Button4Click);
    OnClick(Button5, this, &TForm5::Button5Click);
    OnSignal(UpDown1, &UpDown::clicked, this, &TForm5::UpDown1Click);
    // Every scroll action of the user counts, also one that leaves the position where it was
    // (the end of a drag, a key at either end); a change of position by the window counts too.
    OnSignal(TrackBar1, &QSlider::valueChanged, this, &TForm5::TrackBar1Change);
    OnSignal(TrackBar1, &QSlider::sliderReleased, this, &TForm5::TrackBar1Change);
    connect(TrackBar1, &QSlider::actionTriggered, this, [this] {
        if (TrackBar1->sliderPosition() == TrackBar1->value()) {
            RunCommand([this] { TrackBar1Change(); });
        }
    });

    File1 = AddMenu(menuBar(), "File1", "&File");
    Open1 = AddItem(File1, "Open1", "&Open...", this, &TForm5::Open1Click);
    Save1 = AddItem(File1, "Save1", "&Save", this, &TForm5::Save1Click);
    SaveAs1 = AddItem(File1, "SaveAs1", "Save &As...");
    N1 = AddSeparator(File1, "N1");
    Exit1 = AddItem(File1, "Exit1", "E&xit");
    Options1 = AddMenu(menuBar(), "Options1", "Options");
    AlwaysPlay1 =
        AddCheckItem(Options1, "AlwaysPlay1", "Always Play", this, &TForm5::AlwaysPlay1Click);
    OncePlay1 = AddCheckItem(Options1, "OncePlay1", "Once Play", this, &TForm5::OncePlay1Click);
    N2 = AddSeparator(Options1, "N2");
    Forward1 = AddCheckItem(Options1, "Forward1", "Forward", this, &TForm5::Forward1Click);
    Backward1 = AddCheckItem(Options1, "Backward1", "Backward", this, &TForm5::Backward1Click);
    ForwardAndBackward1 = AddCheckItem(Options1, "ForwardAndBackward1", "Forward And Backward",
                                       this, &TForm5::ForwardAndBackward1Click);
    AlwaysPlay1->setChecked(true);
    ForwardAndBackward1->setChecked(true);
    Make1 = AddMenu(menuBar(), "Make1", "Make");
    AviFiLe1 = AddItem(Make1, "AviFiLe1", "Avi FiLe", this, &TForm5::AviFiLe1Click);
    VideoFile1 = AddItem(Make1, "VideoFile1", "Video File...", this, &TForm5::VideoFile1Click);
    Avi2mpg1 = AddItem(Make1, "Avi2mpg1", "Avi2mpg");
    Insert1 = AddMenu(menuBar(), "Insert1", "Insert");
    vQvFile1 = AddItem(Insert1, "vQvFile1", "vQv File ", this, &TForm5::vQvFile1Click);
    Picture1 = AddItem(Insert1, "Picture1", "Frame", this, &TForm5::Picture1Click);
    Help1 = AddMenu(menuBar(), "Help1", "Help");
    Properties1 = AddItem(Help1, "Properties1", "Properties", this, &TForm5::Properties1Click);

    // The timer runs from now on; its ticks act only while playing.
    Timer1 = Named(new QTimer(this), "Timer1");
    Timer1->setTimerType(Qt::PreciseTimer);
    OnSignal(Timer1, &QTimer::timeout, this, &TForm5::Timer1Timer);
    Timer1->start(100);
}

void TForm5::showEvent(QShowEvent* event) {
    // A show by the window system (restoring the window) is not a show of the program's.
    if (!event->spontaneous()) {
        RunCommand([this] { FormShow(); });
    }
    QMainWindow::showEvent(event);
}

void TForm5::SetStatus(const QString& text) {
    Label2->setText(text);
    Label2->repaint();
}

std::unique_ptr<PictureBox> TForm5::NewHolder(Bitmap picture) {
    auto holder = std::make_unique<PictureBox>(this);
    holder->setVisible(false);
    holder->resize(picture.width(), picture.height());
    holder->bitmap() = std::move(picture);
    return holder;
}

template <class Pieces, class PictureOf>
TArImage TForm5::NewHolders(Pieces&& pieces, PictureOf pictureOf) {
    std::vector<std::unique_ptr<PictureBox>> made;
    for (auto&& piece : pieces) {
        made.push_back(NewHolder(pictureOf(piece)));
    }
    // Room first: once the first holder is let go, nothing may fail.
    TArImage holders;
    holders.reserve(made.size());
    for (std::unique_ptr<PictureBox>& holder : made) {
        holders.push_back(holder.release());
    }
    return holders;
}

void TForm5::DeleteHolders(TArImage& holders) {
    for (PictureBox* holder : holders) {
        delete holder;
    }
    holders.clear();
}

void TForm5::ReplaceFrames(TArImage frames) {
    DeleteHolders(PlayerFrames);
    PlayerFrames = std::move(frames);
}

void TForm5::ShowFrame(int i) {
    if (i < 0 || i >= int(PlayerFrames.size())) {
        return;
    }
    // A plain copy of ready pixels: nothing is decoded or converted on the way.
    Image1->setPicture(PlayerFrames[std::size_t(i)]->bitmap());
    Image1->refresh();
}

void TForm5::MoveTrackBar(int position) {
    // The change handler would only repeat what the caller has done.
    const QSignalBlocker blocker(TrackBar1);
    TrackBar1->setValue(position);
}

void TForm5::SetPlayState(bool playing, bool startEnabled, bool endEnabled) {
    Playing = playing;
    Button1->setText(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    Button1->setEnabled(true);
    Button2->setEnabled(playing);
    Button3->setEnabled(startEnabled);
    Button4->setEnabled(endEnabled);
}

void TForm5::CheckDirection(QAction* direction) {
    for (QAction* a : {Forward1, Backward1, ForwardAndBackward1}) {
        a->setChecked(a == direction);
    }
}

int TForm5::PeriodMultiplier() const {
    return StrToInt(Edit1->text().toStdString());
}

void TForm5::ResetPlayer(int count, int height, int width) {
    FrameCount = count;
    Image1->resize(width, height);
    const QRect area = Bevel1->geometry();
    const int top = RoundHalf(area.height() / 2.0) + area.top() - RoundHalf(height / 2.0);
    const int left = RoundHalf(area.width() / 2.0) + area.left() - RoundHalf(width / 2.0);
    Image1->move(left, top);
    SetPlayState(false, false, true);
    Edit1->setText(QStringLiteral("1"));
    Timer1->setInterval(50);
    CurrentFrame = 0;
    {
        // Narrowing the range must not show a frame of a sequence that is being replaced.
        const QSignalBlocker blocker(TrackBar1);
        TrackBar1->setRange(0, std::max(count - 1, 0));
        TrackBar1->setValue(0);
    }
}

void TForm5::FormShow() {
    // A fresh copy would delete the frames an export is writing; the export goes on.
    if (VideoExportRunning) {
        return;
    }
    const TArImage& source = Form1->MorphFrames;
    const int height = Form1->Image1->height();
    const int width = Form1->Image1->width();
    // Copies first, so that a failure leaves the window as it was. A holder without a
    // picture (nothing loaded on that side yet) gives a white frame.
    TArImage copies = NewHolders(source, [&](const PictureBox* frame) {
        return frame && frame->hasPicture() ? frame->bitmap() : Bitmap(width, height);
    });
    ResetPlayer(int(copies.size()), height, width);
    AlwaysPlay1->setChecked(true);
    OncePlay1->setChecked(false);
    Forward1->setChecked(false);
    Backward1->setChecked(false);
    if (!copies.empty()) {
        Image1->setPicture(copies.front()->bitmap());
    }
    ReplaceFrames(std::move(copies));
    ForwardAndBackward1Click();
}

void TForm5::Timer1Timer() {
    if (!Playing || FrameCount < 1) {
        return;
    }
    ShowFrame(CurrentFrame);
    MoveTrackBar(CurrentFrame);
    bool passComplete = false;
    if (Forward1->isChecked()) {
        ++CurrentFrame;
        if (CurrentFrame > FrameCount - 1) {
            CurrentFrame = 0;
            passComplete = true;
        }
    } else if (Backward1->isChecked()) {
        --CurrentFrame;
        if (CurrentFrame < 0) {
            CurrentFrame = FrameCount - 1;
            passComplete = true;
        }
    } else {
        CurrentFrame += GoingForward ? 1 : -1;
        if (CurrentFrame == FrameCount - 1) {
            GoingForward = false;
        }
        if (CurrentFrame < 0) {
            CurrentFrame = 0;
            GoingForward = true;
            passComplete = true;
        }
        // The turn above is missed when the last frame was reached some other way (End,
        // the track bar) or is also the first: turn back here instead of leaving the sequence.
        if (CurrentFrame > FrameCount - 1) {
            if (FrameCount > 1) {
                CurrentFrame = FrameCount - 2;
                GoingForward = false;
            } else {
                CurrentFrame = 0;
                GoingForward = true;
                passComplete = true;
            }
        }
    }
    if (passComplete && OncePlay1->isChecked()) {
        Button1Click();
    }
}

void TForm5::TrackBar1Change() {
    CurrentFrame = TrackBar1->value();
    ShowFrame(CurrentFrame);
}

void TForm5::UpDown1Click(bool up) {
    int m = PeriodMultiplier() + (up ? 1 : -1);
    if (m < 1) {
        m = 1;
    }
    Timer1->setInterval(50 * m);
    Edit1->setText(QString::number(m));
}

void TForm5::Button1Click() {
    SetPlayState(!Playing, true, true);
}

void TForm5::Button2Click() {
    SetPlayState(false, true, true);
    CurrentFrame = 0;
    ShowFrame(0);
    MoveTrackBar(0);
}

void TForm5::Button3Click() {
    SetPlayState(false, false, true);
    CurrentFrame = 0;
    ShowFrame(0);
    MoveTrackBar(0);
}

void TForm5::Button4Click() {
    SetPlayState(false, true, false);
    CurrentFrame = std::max(FrameCount - 1, 0);
    ShowFrame(CurrentFrame);
    MoveTrackBar(CurrentFrame);
}

void TForm5::Button5Click() {
    hide();
}

void TForm5::AlwaysPlay1Click() {
    AlwaysPlay1->setChecked(true);
    OncePlay1->setChecked(false);
}

void TForm5::OncePlay1Click() {
    OncePlay1->setChecked(true);
    AlwaysPlay1->setChecked(false);
}

void TForm5::Forward1Click() {
    CheckDirection(Forward1);
    CurrentFrame = 0;
    MoveTrackBar(0);
    ShowFrame(0);
}

void TForm5::Backward1Click() {
    CheckDirection(Backward1);
    CurrentFrame = std::max(FrameCount - 1, 0);
    MoveTrackBar(CurrentFrame);
    ShowFrame(CurrentFrame);
}

void TForm5::ForwardAndBackward1Click() {
    CheckDirection(ForwardAndBackward1);
    CurrentFrame = 0;
    MoveTrackBar(0);
    ShowFrame(0);
    GoingForward = true;
}

void TForm5::Properties1Click() {
    ShowInformation(this,
                    QStringLiteral(" Frames:") + QString::number(FrameCount) +
                        SizeText(QStringLiteral("  Height:"), Image1->height(), Image1->width()));
}

void TForm5::Save1Click() {
    if (VideoExportRunning) {
        return;
    }
    const std::optional<QString> chosen = RunSaveDialog(this, QString::fromLatin1(kVqvFilter));
    const StatusBlanker blanker(this);
    if (!chosen || FrameCount == 0) {
        return;
    }
    SetStatus(QStringLiteral("Saving File..."));
    // The bare name lands in the current folder, which the dialog made the chosen one.
    const QString name = WithExtension(QFileInfo(*chosen).fileName(), QStringLiteral(".vQv"));
    const QString path = QDir::current().absoluteFilePath(name);
    // The frames are written from the window's own pictures: a copy of a long sequence
    // would need as much memory again.
    std::vector<const Bitmap*> frames;
    frames.reserve(PlayerFrames.size());
    for (const PictureBox* frame : PlayerFrames) {
        frames.push_back(&frame->bitmap());
    }
    // Written beside the target and renamed over it when complete: a failed save leaves no
    // part-written file and keeps an existing one.
    WriteVqv(path.toStdString(), frames);
}

void TForm5::Open1Click() {
    if (VideoExportRunning) {
        return;
    }
    const std::optional<QString> chosen = RunOpenDialog(this, QString::fromLatin1(kVqvFilter));
    const StatusBlanker blanker(this);
    if (!chosen) {
        return;
    }
    SetStatus(QStringLiteral("Opening File..."));
    // The whole file is read and checked before anything of the window changes, so a refused
    // or unreadable file leaves the sequence as it was.
    std::vector<Bitmap> pictures = ReadVqv(chosen->toStdString());
    const int height = pictures.front().height();
    const int width = pictures.front().width();
    TArImage frames = NewHolders(pictures, [](Bitmap& picture) { return std::move(picture); });
    ResetPlayer(int(frames.size()), height, width);
    ReplaceFrames(std::move(frames));
    ShowFrame(0);
}

void TForm5::Picture1Click() {
    if (VideoExportRunning) {
        return;
    }
    ShowInformation(this, SizeText(QStringLiteral(" Pic MUST have Height:"), Image1->height(),
                                   Image1->width()));
    const std::optional<QString> chosen = RunOpenDialog(this, QString::fromLatin1(kPictureFilter));
    if (!chosen) {
        return;
    }
    LoadOutcome outcome;
    // A file that is no picture raises here and leaves the last loaded picture in place.
    Bitmap picture = LoadPicture(chosen->toStdString());
    std::unique_ptr<PictureBox> holder = NewHolder(std::move(picture));
    delete InsertPicture;
    InsertPicture = holder.release();
    const Bitmap& loaded = InsertPicture->bitmap();
    if (loaded.height() == Image1->height() && loaded.width() == Image1->width()) {
        InsertMode = 1;
        outcome.Loaded();
        Form8->show();
        Form8->raise();
    } else {
        outcome.Refused();
        ShowError(this, SizeText(QStringLiteral("Not Optional Height:"), loaded.height(),
                                 loaded.width()));
    }
}

void TForm5::vQvFile1Click() {
    if (VideoExportRunning) {
        return;
    }
    ShowInformation(this, SizeText(QStringLiteral(" vQv File MUST have Height:"), Image1->height(),
                                   Image1->width()));
    const std::optional<QString> chosen = RunOpenDialog(this, QString::fromLatin1(kVqvFilter));
    if (!chosen) {
        return;
    }
    LoadOutcome outcome;
    {
        const StatusBlanker blanker(this);
        SetStatus(QStringLiteral("Opening File..."));
        const std::string path = chosen->toStdString();
        const VqvHeader header = ReadVqvHeader(path);
        if (header.height == Image1->height() && header.width == Image1->width()) {
            std::vector<Bitmap> pictures = ReadVqv(path);
            TArImage frames =
                NewHolders(pictures, [](Bitmap& picture) { return std::move(picture); });
            DeleteHolders(InsertFrames);
            InsertFrames = std::move(frames);
            InsertMode = 2;
            outcome.Loaded();
        } else {
            outcome.Refused();
            ShowError(this, SizeText(QStringLiteral("Not Optional Height:"), header.height,
                                     header.width));
            InsertMode = 0;
        }
    }
    if (InsertMode == 2) {
        Form8->show();
        Form8->raise();
    }
}

bool TForm5::PutInsertion(bool before) {
    if (VideoExportRunning) {
        return false;
    }
    std::vector<const Bitmap*> pieces;
    if (InsertMode == 1 && InsertPicture) {
        pieces.push_back(&InsertPicture->bitmap());
    } else if (InsertMode == 2) {
        for (const PictureBox* frame : InsertFrames) {
            pieces.push_back(&frame->bitmap());
        }
    }
    if (pieces.empty()) {
        return false;
    }
    // The sequence may have changed size since the load (an Open, a new showing): frames of
    // another size would break every frame after them.
    const int height = Image1->height();
    const int width = Image1->width();
    for (const Bitmap* piece : pieces) {
        if (piece->height() != height || piece->width() != width) {
            ShowError(this, SizeText(QStringLiteral("Not Optional Height:"), piece->height(),
                                     piece->width()));
            return false;
        }
    }
    // Before goes to CurrentFrame - 1: in front of the frame preceding the selected one.
    const int p = std::clamp(CurrentFrame + (before ? -1 : 1), 0, int(PlayerFrames.size()));
    // Room for the new sequence first: nothing may fail once the holders are made.
    TArImage frames;
    frames.reserve(PlayerFrames.size() + pieces.size());
    const TArImage inserted = NewHolders(pieces, [](const Bitmap* piece) { return *piece; });
    frames.insert(frames.end(), PlayerFrames.begin(), PlayerFrames.begin() + p);
    frames.insert(frames.end(), inserted.begin(), inserted.end());
    frames.insert(frames.end(), PlayerFrames.begin() + p, PlayerFrames.end());
    // The old holders live on in the new sequence.
    PlayerFrames = std::move(frames);
    ResetPlayer(int(PlayerFrames.size()), height, width);
    ShowFrame(0);
    return true;
}

std::vector<const Bitmap*> TForm5::DirectionOrder() const {
    const int n = int(PlayerFrames.size());
    std::vector<const Bitmap*> list;
    if (ForwardAndBackward1->isChecked()) {
        for (int i = 0; i < n; ++i) {
            list.push_back(&PlayerFrames[std::size_t(i)]->bitmap());
        }
        for (int i = n - 1; i >= 0; --i) {
            list.push_back(&PlayerFrames[std::size_t(i)]->bitmap());
        }
    } else if (Backward1->isChecked()) {
        for (int i = n - 1; i >= 0; --i) {
            list.push_back(&PlayerFrames[std::size_t(i)]->bitmap());
        }
    } else {
        for (int i = 0; i < n; ++i) {
            list.push_back(&PlayerFrames[std::size_t(i)]->bitmap());
        }
    }
    return list;
}

void TForm5::AviFiLe1Click() {
    if (VideoExportRunning) {
        return;
    }
    SetStatus(QStringLiteral("Building Avi..."));
    std::vector<const Bitmap*> list = DirectionOrder();
    AviFrameList = std::move(list);
    AviWriter = std::make_unique<TAviWriter>();
    AviWriter->Bitmaps = AviFrameList;
    AviWriter->Height = Image1->height();
    AviWriter->Width = Image1->width();
    AviWriter->Stretch = false;
    AviWriter->FrameTime = Timer1->interval();

    const std::optional<QString> chosen =
        RunSaveDialog(this, QStringLiteral("AVI files (*.avi)|*.avi|vQv files (*.vQv)|*.vQv"));
    if (!chosen || FrameCount == 0) {
        SetStatus(QStringLiteral(" "));
        return;
    }
    // The video goes to the folder chosen in the save dialog even when the sound file comes
    // from another folder, so both names are kept with their folders.
    const QString videoFolder = QFileInfo(*chosen).absolutePath();
    const QString name = WithExtension(QFileInfo(*chosen).fileName(), QStringLiteral(".avi"));
    AviWriter->FileName = QDir(videoFolder).absoluteFilePath(name).toStdString();
    AviWriter->ChangeWavFileName(std::string());
    if (Confirm(this, QStringLiteral(" Would you like to Put Wav File In Your Avi? "))) {
        const std::optional<QString> wav =
            RunOpenDialog(this, QStringLiteral("WAV files (*.wav)|*.wav"));
        if (wav) {
            AviWriter->ChangeWavFileName(QFileInfo(*wav).absoluteFilePath().toStdString());
        }
    }
    repaint();
    // A failure leaves "Building Avi..." up while the writer's own message is shown.
    AviWriter->WriteAviFile();
    SetStatus(QStringLiteral(" "));
}

} // namespace morph
