// Drives the animation window of a running program: playback by timer ticks, the buttons and
// options, the period arrows, saving and opening .vQv files, and inserting pictures and files
// through the Put New File dialog, and the exports: AVI, the other videos and PNG frames.
#include "animation/AnimationWindow.h"
#include "animation/PutNewFileDialog.h"
#include "animation/VqvCodec.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "platform/QtImageIO.h"
#include "platform/gui/Application.h"
#include "support/AnimationFiles.h"
#include "support/Decoders.h"
#include "support/Faults.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "support/WindowTestMain.h"
#include "support/WindowTesting.h"
#include "views/PropertiesWindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <optional>

#include <unistd.h>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

// What stands in the way of a file being written.
enum WriteFault { FullDisk, LockedFolder, FolderInTheWay };

// Frame f of a sequence: pixel (x, y) has red x, green y and blue f, so the blue of any pixel
// tells which frame the window shows.
std::vector<Bitmap> Frames(int count, int width, int height, int firstBlue = 0) {
    std::vector<Bitmap> frames;
    for (int f = 0; f < count; ++f) {
        Bitmap b(width, height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                b.setPixel(x, y,
                           RGB(std::uint8_t(x), std::uint8_t(y), std::uint8_t(firstBlue + f)));
            }
        }
        frames.push_back(b);
    }
    return frames;
}

int Shown() {
    return BlueOf(Form5->Image1->bitmap().pixel(0, 0));
}

int FrameAt(int i) {
    return BlueOf(Form5->PlayerFrames.at(std::size_t(i))->bitmap().pixel(0, 0));
}

std::vector<int> Sequence() {
    std::vector<int> blues;
    for (int i = 0; i < Form5->FrameCount; ++i) {
        blues.push_back(FrameAt(i));
    }
    return blues;
}

// Runs timer ticks and returns the frame shown by each; the track bar must follow.
std::vector<int> Ticks(int count) {
    std::vector<int> shown;
    for (int i = 0; i < count; ++i) {
        Form5->Timer1Timer();
        shown.push_back(Shown());
        if (FrameAt(Form5->TrackBar1->value()) != shown.back()) {
            return {-1};
        }
    }
    return shown;
}

// Play, Stop, Start, End enabled, and the Play caption.
QString Buttons() {
    return Form5->Button1->text() + QString(" %1%2%3%4")
                                        .arg(Form5->Button1->isEnabled())
                                        .arg(Form5->Button2->isEnabled())
                                        .arg(Form5->Button3->isEnabled())
                                        .arg(Form5->Button4->isEnabled());
}

} // namespace

class AnimationWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder_;
    QWidget holders_; // owns the frames handed to the main window
    TArImage savedMorphFrames_;
    QStringList painted_;                               // texts of the status label as painted
    std::function<void(const QString&)> statusPainted_; // runs at each of them
    int picturePaints_ = 0;

    // Gives the main window these frames and a Source picture of their size, then shows the
    // animation window afresh. Ticks are driven by the test, not the timer.
    void Animate(const std::vector<Bitmap>& frames) {
        Form1->MorphFrames.clear();
        for (const Bitmap& b : frames) {
            auto* holder = new PictureBox(&holders_);
            holder->setPicture(b);
            Form1->MorphFrames.push_back(holder);
        }
        Form1->Image1->setPicture(frames.front());
        Reshow();
    }

    void Reshow() {
        if (Form5->isVisible()) {
            QTest::mouseClick(Form5->Button5, Qt::LeftButton);
        }
        QVERIFY(!Form5->isVisible());
        Form1->AnimatorvQv1->trigger();
        QVERIFY(Form5->isVisible());
        Form5->Timer1->stop();
        // Painting happens only in an exposed window.
        QTRY_VERIFY(Form5->testAttribute(Qt::WA_Mapped));
        painted_.clear();
    }

    QString Path(const QString& name) { return QDir(folder_.path()).filePath(name); }

    void Open(const QString& path) {
        dialogs->files.push_back(path);
        Form5->Open1->trigger();
    }

    void Save(const QString& name) {
        dialogs->files.push_back(Path(name));
        Form5->Save1->trigger();
    }

    QString Bmp(const QString& name, const Bitmap& picture, const char* format = "BMP") {
        return test::SavePicture(Path(name), picture, format);
    }

    void SelectFrame(int i) {
        Form5->TrackBar1->setValue(i);
        QCOMPARE(Form5->CurrentFrame, i);
    }

    void Put(bool before) {
        QVERIFY(Form8->isVisible());
        QTest::mouseClick(before ? Form8->RadioButton1 : Form8->RadioButton2, Qt::LeftButton);
        QTest::mouseClick(Form8->Button1, Qt::LeftButton);
        QVERIFY(!Form8->isVisible());
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == Form5->Label2 && event->type() == QEvent::Paint) {
            painted_ << Form5->Label2->text();
            if (statusPainted_) {
                statusPainted_(Form5->Label2->text());
            }
        }
        if (watched == Form5->Image1 && event->type() == QEvent::Paint) {
            ++picturePaints_;
        }
        return false;
    }

  private slots:
    void initTestCase() {
        savedMorphFrames_ = Form1->MorphFrames;
        Form5->Label2->installEventFilter(this);
        Form5->Image1->installEventFilter(this);
    }
    void cleanupTestCase() {
        Form5->Label2->removeEventFilter(this);
        Form5->Image1->removeEventFilter(this);
        Form1->MorphFrames = savedMorphFrames_;
    }
    void init() {
        dialogs->clear();
        painted_.clear();
        statusPainted_ = nullptr;
        Form8->hide();
        QDir::setCurrent(folder_.path());
    }
    void cleanup() { QCOMPARE(dialogs->unexpected, 0); }

    void windowMenusAndStartState() {
        QCOMPARE(Form5->Timer1->interval(), 100); // runs from creation, at the design period
        QVERIFY(Form5->Timer1->isActive());
        QCOMPARE(Form5->windowTitle(), QString("Animation vQv"));
        QCOMPARE(Form5->centralWidget()->size(), QSize(438, 495));
        QCOMPARE(Form5->pos(), QPoint(242, 123));
        // Each menu as "title: name=caption ...", separators with an empty caption.
        QStringList menus;
        for (QAction* m : Form5->menuBar()->actions()) {
            menus << m->text() + ":";
            for (QAction* a : m->menu()->actions()) {
                menus.back() += " " + a->objectName() + "=" + a->text();
            }
        }
        QCOMPARE(menus,
                 (QStringList{
                     "&File: Open1=&Open... Save1=&Save SaveAs1=Save &As... N1= Exit1=E&xit",
                     "Options: AlwaysPlay1=Always Play OncePlay1=Once Play N2= "
                     "Forward1=Forward Backward1=Backward "
                     "ForwardAndBackward1=Forward And Backward",
                     "Make: AviFiLe1=Avi FiLe VideoFile1=Video File... Avi2mpg1=Avi2mpg",
                     "Insert: vQvFile1=vQv File  Picture1=Frame", "Help: Properties1=Properties"}));

        Form5->OncePlay1->trigger();
        Form5->Forward1->trigger();
        Animate(Frames(2, 6, 4));
        QCOMPARE(Form5->FrameCount, 2);
        QCOMPARE(Form5->Edit1->text(), QString("1"));
        QCOMPARE(Form5->Timer1->interval(), 50);
        QCOMPARE(Buttons(), QString("Play 1001"));
        QVERIFY(Form5->AlwaysPlay1->isChecked() && !Form5->OncePlay1->isChecked());
        QVERIFY(Form5->ForwardAndBackward1->isChecked() && !Form5->Forward1->isChecked());
        QCOMPARE(Form5->TrackBar1->maximum(), 1);
        QCOMPARE(Shown(), 0);
        // What the user sees is the frame itself.
        QCOMPARE(Form5->Image1->grab().toImage().pixel(5, 3), qRgb(5, 3, 0));
    }

    void periodArrowsStepBy50msWithAFloorOf50() {
        Animate(Frames(2, 6, 4));
        QTest::mouseClick(Form5->UpDown1->downButton(), Qt::LeftButton); // own position at 0
        QCOMPARE(Form5->Edit1->text(), QString("1"));
        QTest::mouseClick(Form5->UpDown1->upButton(), Qt::LeftButton);
        QTest::mouseClick(Form5->UpDown1->upButton(), Qt::LeftButton);
        QCOMPARE(Form5->Edit1->text(), QString("3"));
        QCOMPARE(Form5->Timer1->interval(), 150);
        Reshow(); // back to 1; the arrows keep their position 2
        QTest::mouseClick(Form5->UpDown1->downButton(), Qt::LeftButton);
        QCOMPARE(Form5->Edit1->text(), QString("1"));
        QCOMPARE(Form5->Timer1->interval(), 50);
        QTest::mouseClick(Form5->UpDown1->upButton(), Qt::LeftButton);
        QCOMPARE(Form5->Timer1->interval(), 100);
    }

    void frameOrdersOfEveryDirection() {
        Animate(Frames(3, 4, 4));
        QCOMPARE(Ticks(2), (std::vector<int>{0, 0})); // stopped: ticks do nothing
        QCOMPARE(Form5->CurrentFrame, 0);
        QTest::mouseClick(Form5->Button1, Qt::LeftButton);
        QCOMPARE(Buttons(), QString("Pause 1111"));
        QCOMPARE(Ticks(10), (std::vector<int>{0, 1, 2, 1, 0, 0, 1, 2, 1, 0}));
        Form5->Forward1->trigger();
        QCOMPARE(Ticks(7), (std::vector<int>{0, 1, 2, 0, 1, 2, 0}));
        Form5->Backward1->trigger();
        QCOMPARE(Ticks(6), (std::vector<int>{2, 1, 0, 2, 1, 0}));
        QVERIFY(Form5->Playing);
    }

    void oncePlayPausesAfterOnePass() {
        struct Case {
            QAction* direction;
            std::vector<int> pass;
            int current;
        };
        for (const Case& c :
             {Case{Form5->Forward1, {0, 1, 2}, 0}, Case{Form5->Backward1, {2, 1, 0}, 2},
              Case{Form5->ForwardAndBackward1, {0, 1, 2, 1, 0}, 0}}) {
            Animate(Frames(3, 4, 4));
            Form5->OncePlay1->trigger();
            c.direction->trigger();
            QTest::mouseClick(Form5->Button1, Qt::LeftButton);
            QCOMPARE(Ticks(int(c.pass.size())), c.pass);
            QVERIFY(!Form5->Playing);
            QCOMPARE(Buttons(), QString("Play 1011"));
            QCOMPARE(Form5->CurrentFrame, c.current);
            QCOMPARE(Ticks(1), std::vector<int>{c.pass.back()}); // paused: nothing moves
            QTest::mouseClick(Form5->Button1, Qt::LeftButton);
            QCOMPARE(Ticks(1), std::vector<int>{c.current});
        }
    }

    void oneFrameAndTheLastFrameTurnWithinTheSequence() {
        WriteVqv(Path("one.vQv").toStdString(), Frames(1, 3, 2, 7));
        Animate(Frames(3, 3, 2));
        Open(Path("one.vQv"));
        QCOMPARE(Form5->FrameCount, 1);
        QTest::mouseClick(Form5->Button1, Qt::LeftButton);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(Ticks(1), std::vector<int>{7});
            QCOMPARE(Form5->CurrentFrame, 0);
        }
        Form5->OncePlay1->trigger();
        Ticks(1);
        QVERIFY(!Form5->Playing);

        // End, then Play while going forward: the last frame is shown once and playback turns.
        Animate(Frames(3, 3, 2));
        QTest::mouseClick(Form5->Button4, Qt::LeftButton);
        QTest::mouseClick(Form5->Button1, Qt::LeftButton);
        QCOMPARE(Ticks(6), (std::vector<int>{2, 1, 0, 0, 1, 2}));
    }

    void buttonsAndTrackBarJump() {
        Animate(Frames(4, 3, 2));
        QTest::mouseClick(Form5->Button1, Qt::LeftButton);
        Ticks(2);
        QTest::mouseClick(Form5->Button4, Qt::LeftButton); // End
        QCOMPARE(Buttons(), QString("Play 1010"));
        QCOMPARE(Shown(), 3);
        QCOMPARE(Form5->TrackBar1->value(), 3);
        QTest::mouseClick(Form5->Button3, Qt::LeftButton); // Start
        QCOMPARE(Buttons(), QString("Play 1001"));
        QCOMPARE(Shown(), 0);
        QTest::mouseClick(Form5->Button1, Qt::LeftButton);
        Ticks(2);
        QTest::mouseClick(Form5->Button2, Qt::LeftButton); // Stop
        QCOMPARE(Buttons(), QString("Play 1011"));
        QCOMPARE(Form5->CurrentFrame, 0);
        QCOMPARE(Shown(), 0);
        // Keys on the track bar pick a frame; playing goes on from there.
        QTest::mouseClick(Form5->Button1, Qt::LeftButton);
        QTest::keyClick(Form5->TrackBar1, Qt::Key_Right);
        QTest::keyClick(Form5->TrackBar1, Qt::Key_Right);
        QCOMPARE(Shown(), 2);
        QCOMPARE(Ticks(2), (std::vector<int>{2, 3}));
        // A key that leaves the bar where it is still picks its frame.
        QTest::keyClick(Form5->TrackBar1, Qt::Key_End);
        QCOMPARE(Form5->CurrentFrame, 3);
        // Backward while stopped shows the last frame with the bar at its right end.
        QTest::mouseClick(Form5->Button2, Qt::LeftButton);
        Form5->Backward1->trigger();
        QCOMPARE(Shown(), 3);
        QCOMPARE(Form5->TrackBar1->value(), Form5->TrackBar1->maximum());
    }

    void saveOpenRoundTripAndCentring() {
        const std::vector<Bitmap> frames = Frames(3, 137, 105, 40);
        Animate(frames);
        QCOMPARE(Form5->Image1->geometry(), QRect(148, 124, 137, 105));
        Save("round");
        QCOMPARE(dialogs->fileRequests.at(0).filter, QString("vQv files (*.vQv)|*.vQv"));
        QCOMPARE(QFileInfo(Path("round.vQv")).size(), 12 + 4 * 3 * 137 * 105);
        QCOMPARE(painted_, (QStringList{"Saving File...", " "}));

        Animate(Frames(2, 9, 8));
        QTest::mouseClick(Form5->UpDown1->upButton(), Qt::LeftButton);
        QTest::mouseClick(Form5->Button1, Qt::LeftButton);
        painted_.clear();
        Open(Path("round.vQv"));
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(painted_, (QStringList{"Opening File...", " "}));
        QCOMPARE(Form5->FrameCount, 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(Form5->PlayerFrames[std::size_t(i)]->bitmap(), frames[std::size_t(i)]);
        }
        QCOMPARE(Form5->Image1->geometry(), QRect(148, 124, 137, 105));
        QCOMPARE(Form5->Image1->bitmap(), frames[0]);
        QCOMPARE(Form5->Edit1->text(), QString("1"));
        QCOMPARE(Form5->Timer1->interval(), 50);
        QCOMPARE(Buttons(), QString("Play 1001"));
        QCOMPARE(Form5->TrackBar1->maximum(), 2);
        QCOMPARE(Form5->TrackBar1->value(), 0);

        Form5->Properties1->trigger();
        QCOMPARE(dialogs->boxes.at(0).text, QString(" Frames:3  Height:105  Width:137"));
    }

    // A showing copies the main window's frames whole or not at all: when a copy fails part
    // way, the sequence stays as it was and the copies made so far are gone.
    void failedFrameCopyKeepsTheSequenceAndLeavesNoHolder() {
        Animate(Frames(3, 8, 6));
        const std::vector<int> sequence = Sequence();
        const auto holders = Form5->findChildren<PictureBox*>(Qt::FindDirectChildrenOnly).size();
        // A fourth frame that was never built is copied as a white picture of the main
        // picture's size, here more pixels than a picture may have.
        Form1->MorphFrames.push_back(nullptr);
        const QSize pictureSize = Form1->Image1->size();
        Form1->Image1->resize(1 << 15, 1 << 14);
        Reshow();
        Form1->Image1->resize(pictureSize);
        QCOMPARE(dialogs->boxes.size(), size_t(1));
        QCOMPARE(dialogs->boxes[0].kind, BoxKind::ApplicationError);
        QVERIFY(dialogs->boxes[0].text.contains("too large"));
        QCOMPARE(Sequence(), sequence);
        QCOMPARE(Form5->findChildren<PictureBox*>(Qt::FindDirectChildrenOnly).size(), holders);
    }

    void savedNamesGetTheVqvExtension() {
        Animate(Frames(2, 3, 2));
        for (const char* typed : {"clip", "clip.avi", "a.b.c"}) {
            Save(typed);
        }
        QStringList files = QDir(folder_.path()).entryList({"clip*", "a.b*"}, QDir::Files);
        QCOMPARE(files, (QStringList{"a.b.vQv", "clip.vQv"}));
        QCOMPARE(ReadVqv(Path("clip.vQv").toStdString()).size(), size_t(2));
        dialogs->files.push_back(std::nullopt); // cancelled: nothing written, label blank
        Form5->Save1->trigger();
        QCOMPARE(Form5->Label2->text(), QString(" "));
    }

    void refusedAndUnwritableFilesAreReported() {
        Animate(Frames(3, 3, 2));
        QFile file(Path("corrupt.vQv"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("\x02\0\0\0\x02\0\0\0\x02\0\0\0short", 17));
        file.close();
        Form5->Forward1->trigger();
        SelectFrame(1);
        Open(Path("corrupt.vQv"));
        QCOMPARE(dialogs->boxes.size(), size_t(1));
        QCOMPARE(dialogs->boxes[0].kind, BoxKind::ApplicationError);
        QVERIFY(dialogs->boxes[0].text.contains("corrupt.vQv"));
        QCOMPARE(Sequence(), (std::vector<int>{0, 1, 2}));
        QCOMPARE(Form5->CurrentFrame, 1);
        QCOMPARE(Shown(), 1);
        QCOMPARE(Form5->Label2->text(), QString(" "));

        // Root may write into a read-only folder; the sysfs root takes no new files at all.
        QTemporaryDir locked;
        QFile::setPermissions(locked.path(), QFile::ReadOwner | QFile::ExeOwner);
        const QString folder =
            ::access(QFile::encodeName(locked.path()), W_OK) == 0 ? QString("/sys") : locked.path();
        dialogs->clear();
        dialogs->files.push_back(folder + "/clip");
        Form5->Save1->trigger();
        QCOMPARE(dialogs->boxes.size(), size_t(1));
        QVERIFY(dialogs->boxes[0].text.contains("clip.vQv"));
        QVERIFY(!QFile::exists(folder + "/clip.vQv"));
        QCOMPARE(Form5->Label2->text(), QString(" "));
        QFile::setPermissions(locked.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void insertPictureBeforeAndAfter() {
        Animate(Frames(10, 8, 6));
        SelectFrame(5);
        dialogs->files.push_back(Bmp("new.bmp", Frames(1, 8, 6, 200)[0]));
        Form5->Picture1->trigger();
        QCOMPARE(dialogs->boxes.at(0).text, QString(" Pic MUST have Height:6  Width:8"));
        QVERIFY(dialogs->fileRequests.at(0).filter.startsWith("Bmp files (*.bmp)|*.bmp"));
        QCOMPARE(Form5->InsertMode, 1);
        Put(true);
        QCOMPARE(Sequence(), (std::vector<int>{0, 1, 2, 3, 200, 4, 5, 6, 7, 8, 9}));
        QCOMPARE(Form5->CurrentFrame, 0);
        QCOMPARE(Shown(), 0);
        QCOMPARE(Form5->TrackBar1->maximum(), 10);
        QCOMPARE(Buttons(), QString("Play 1001"));

        // A PNG is converted; After the last frame appends; Before frame 1 goes to the start.
        dialogs->files.push_back(Bmp("new.png", Frames(1, 8, 6, 201)[0], "PNG"));
        Form5->Picture1->trigger();
        QTest::mouseClick(Form5->Button4, Qt::LeftButton);
        Put(false);
        QCOMPARE(Form5->FrameCount, 12);
        QCOMPARE(FrameAt(11), 201);
        dialogs->files.push_back(Path("new.png"));
        Form5->Picture1->trigger();
        SelectFrame(1);
        Put(true);
        QCOMPARE(FrameAt(0), 201);
        QCOMPARE(FrameAt(1), 0);

        // Inserted frames live only until the window is shown again.
        Form5->OncePlay1->trigger();
        Form5->Backward1->trigger();
        Reshow();
        QCOMPARE(Sequence(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
        QVERIFY(Form5->AlwaysPlay1->isChecked() && Form5->ForwardAndBackward1->isChecked());
    }

    void insertFileAfterFirstFrame() {
        Animate(Frames(10, 8, 6));
        WriteVqv(Path("three.vQv").toStdString(), Frames(3, 8, 6, 100));
        dialogs->files.push_back(Path("three.vQv"));
        Form5->vQvFile1->trigger();
        QCOMPARE(dialogs->boxes.at(0).text, QString(" vQv File MUST have Height:6  Width:8"));
        QCOMPARE(painted_, (QStringList{"Opening File...", " "}));
        QCOMPARE(Form5->InsertMode, 2);
        SelectFrame(0);
        Put(false);
        QCOMPARE(Sequence(), (std::vector<int>{0, 100, 101, 102, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    }

    void sizeMismatchInsertsNothing() {
        Animate(Frames(4, 8, 6));
        dialogs->files.push_back(Bmp("wide.bmp", Frames(1, 9, 6)[0]));
        Form5->Picture1->trigger();
        QCOMPARE(dialogs->boxes.size(), size_t(2));
        QCOMPARE(dialogs->boxes[1].kind, BoxKind::Error);
        QCOMPARE(dialogs->boxes[1].caption, QString("Error"));
        QCOMPARE(dialogs->boxes[1].text, QString("Not Optional Height:6  Width:9"));
        QVERIFY(!Form8->isVisible());

        // Cancel keeps the loaded picture; a file of the wrong size then clears it.
        dialogs->files.push_back(Bmp("fits.bmp", Frames(1, 8, 6, 50)[0]));
        Form5->Picture1->trigger();
        QTest::mouseClick(Form8->Button2, Qt::LeftButton);
        QVERIFY(!Form8->isVisible());
        QCOMPARE(Form5->InsertMode, 1);
        WriteVqv(Path("tall.vQv").toStdString(), Frames(2, 8, 7));
        dialogs->clear();
        dialogs->files.push_back(Path("tall.vQv"));
        Form5->vQvFile1->trigger();
        QCOMPARE(dialogs->boxes.at(1).text, QString("Not Optional Height:7  Width:8"));
        QCOMPARE(Form5->InsertMode, 0);
        QVERIFY(!Form8->isVisible());
        QCOMPARE(Form5->FrameCount, 4);

        // A picture loaded for frames of another size is refused at Ok.
        dialogs->files.push_back(Path("fits.bmp"));
        Form5->Picture1->trigger();
        Open(Path("tall.vQv"));
        dialogs->clear();
        Put(true);
        QCOMPARE(dialogs->boxes.at(0).text, QString("Not Optional Height:6  Width:8"));
        QCOMPARE(Form5->FrameCount, 2);
    }

    // While Put New File is open, an Insert whose load is refused (a size that does not fit,
    // a file that cannot be read) closes it: its Ok has nothing new to put. A cancelled file
    // dialog is no load and leaves it open with what was loaded before.
    void refusedLoadClosesThePutNewFile() {
        Animate(Frames(4, 8, 6));
        const QString fits = Bmp("fits.bmp", Frames(1, 8, 6, 50)[0]);
        WriteVqv(Path("tall.vQv").toStdString(), Frames(2, 8, 7));
        QFile junk(Path("junk.vQv"));
        QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("vQv?") == 4);
        junk.close();
        struct Case {
            QAction* insert;
            QString file;
            BoxKind kind;
            QString message; // starts with
        };
        const Case cases[] = {
            {Form5->vQvFile1, Path("tall.vQv"), BoxKind::Error, "Not Optional Height:7  Width:8"},
            {Form5->Picture1, Bmp("wide.bmp", Frames(1, 9, 6)[0]), BoxKind::Error,
             "Not Optional Height:6  Width:9"},
            {Form5->vQvFile1, Path("junk.vQv"), BoxKind::ApplicationError,
             "'" + Path("junk.vQv") + "' is not a valid vQv file"},
            {Form5->Picture1, Path("junk.vQv"), BoxKind::ApplicationError,
             "Cannot read the picture '" + Path("junk.vQv") + "'"},
        };
        for (const Case& c : cases) {
            dialogs->files.push_back(fits);
            Form5->Picture1->trigger();
            QVERIFY(Form8->isVisible());
            dialogs->clear();
            dialogs->files.push_back(c.file);
            c.insert->trigger();
            QCOMPARE(dialogs->boxes.size(), size_t(2));
            QCOMPARE(dialogs->boxes[1].kind, c.kind);
            QVERIFY2(dialogs->boxes[1].text.startsWith(c.message),
                     qPrintable(dialogs->boxes[1].text));
            QVERIFY2(!Form8->isVisible(), qPrintable(c.message));
            QCOMPARE(Form5->FrameCount, 4);
        }

        dialogs->files.push_back(fits);
        Form5->Picture1->trigger();
        dialogs->files.push_back(std::nullopt);
        Form5->vQvFile1->trigger();
        SelectFrame(3);
        Put(false);
        QCOMPARE(Sequence(), (std::vector<int>{0, 1, 2, 3, 50}));
    }

    void playbackOf512FramesKeepsThe50msRate() {
        Animate(Frames(8, 512, 512));
        QTest::mouseClick(Form5->Button1, Qt::LeftButton);
        picturePaints_ = 0;
        QElapsedTimer clock;
        clock.start();
        Ticks(40);
        const double perTick = double(clock.nsecsElapsed()) / 40e6;
        qInfo("one tick of a 512 x 512 frame: %.2f ms", perTick);
        QCOMPARE(picturePaints_, 40); // every tick paints its frame at once
        // The real timer at 50 ms; the rate is reported, not asserted.
        picturePaints_ = 0;
        Form5->Timer1->start();
        QTest::qWait(1000);
        Form5->Timer1->stop();
        qInfo("frames painted in one second at 50 ms: %d", picturePaints_);
        QVERIFY(picturePaints_ > 0);
        QTest::mouseClick(Form5->Button2, Qt::LeftButton);
    }

    // Frame (blue) of each frame of the written video, read back by an independent decoder.
    std::vector<int> VideoBlues(const QString& path, int width, int height) {
        const std::string rgb = test::DecodeVideo(path.toStdString());
        const std::size_t frameBytes = std::size_t(width) * std::size_t(height) * 3;
        std::vector<int> blues;
        for (std::size_t at = 0; frameBytes > 0 && at + frameBytes <= rgb.size();
             at += frameBytes) {
            blues.push_back(std::uint8_t(rgb[at + 2]));
        }
        return blues;
    }

    QString VideoRate(const QString& path) {
        const auto streams = test::ProbeStreams(path.toStdString());
        for (const auto& stream : streams) {
            if (stream.count("codec_type") && stream.at("codec_type") == "video") {
                return QString::fromStdString(stream.at("r_frame_rate"));
            }
        }
        return QString();
    }

    int AudioStreams(const QString& path) {
        int count = 0;
        for (const auto& stream : test::ProbeStreams(path.toStdString())) {
            count += stream.count("codec_type") && stream.at("codec_type") == "audio";
        }
        return count;
    }

    // Exports with the save dialog answered by `typed` and the sound question by No.
    void ExportWithoutSound(const QString& typed) {
        dialogs->files.push_back(typed);
        dialogs->confirmations.push_back(false);
        Form5->AviFiLe1->trigger();
    }

    QStringList WorkFiles() {
        return QDir(QDir::tempPath()).entryList({"~AWTemp*"}, QDir::Files | QDir::Hidden);
    }

    void aviFramesFollowTheDirectionAndThePeriod() {
        Animate(Frames(10, 8, 6));
        const QStringList workFilesBefore = WorkFiles();
        Form5->ForwardAndBackward1->trigger();
        QTest::mouseClick(Form5->UpDown1->downButton(), Qt::LeftButton);
        QTest::mouseClick(Form5->UpDown1->upButton(), Qt::LeftButton);
        QTest::mouseClick(Form5->UpDown1->upButton(), Qt::LeftButton);
        QCOMPARE(Form5->Edit1->text(), QString("3"));
        SelectFrame(4);
        ExportWithoutSound(Path("movie.vQv"));
        QCOMPARE(dialogs->fileRequests.at(0).filter,
                 QString("AVI files (*.avi)|*.avi|vQv files (*.vQv)|*.vQv"));
        QCOMPARE(dialogs->boxes.at(0).kind, BoxKind::Confirmation);
        QCOMPARE(dialogs->boxes.at(0).text,
                 QString(" Would you like to Put Wav File In Your Avi? "));
        QVERIFY(QFile::exists(Path("movie.avi")));
        QVERIFY(!QFile::exists(Path("movie.vQv")));
        QCOMPARE(VideoBlues(Path("movie.avi"), 8, 6),
                 (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
        QCOMPARE(VideoRate(Path("movie.avi")), QString("20/3")); // 150 ms a frame
        QCOMPARE(AudioStreams(Path("movie.avi")), 0);
        QVERIFY(painted_.contains("Building Avi..."));
        QCOMPARE(Form5->Label2->text(), QString(" "));
        // The playback state is the export's input, not its output.
        QCOMPARE(Form5->CurrentFrame, 4);
        QCOMPARE(Form5->FrameCount, 10);
        QCOMPARE(WorkFiles(), workFilesBefore);

        // Period 1 is 50 ms; either filter entry and any typed extension give .avi.
        QTest::mouseClick(Form5->UpDown1->downButton(), Qt::LeftButton);
        QTest::mouseClick(Form5->UpDown1->downButton(), Qt::LeftButton);
        Form5->Forward1->trigger();
        ExportWithoutSound(Path("forward"));
        QCOMPARE(VideoBlues(Path("forward.avi"), 8, 6),
                 (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
        QCOMPARE(VideoRate(Path("forward.avi")), QString("20/1"));
        Form5->Backward1->trigger();
        ExportWithoutSound(Path("backward.bin"));
        QCOMPARE(VideoBlues(Path("backward.avi"), 8, 6),
                 (std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
        // Unscaled frames of the picture's size: pixel (x, y) keeps red x and green y.
        const std::string rgb = test::DecodeVideo(Path("forward.avi").toStdString());
        QCOMPARE(rgb.size(), std::size_t(10 * 8 * 6 * 3));
        const std::size_t at = (5 * 8 + 7) * 3; // x 7, y 5 of frame 0
        QCOMPARE(int(std::uint8_t(rgb[at])), 7);
        QCOMPARE(int(std::uint8_t(rgb[at + 1])), 5);
    }

    void aviSoundIsAskedForAndTakenFromItsOwnFolder() {
        Animate(Frames(4, 8, 6));
        Form5->Forward1->trigger();
        QTemporaryDir sounds;
        const QString wav = QDir(sounds.path()).filePath("tune.wav");
        {
            QFile file(wav);
            QVERIFY(file.open(QIODevice::WriteOnly));
            const std::string bytes =
                test::PcmWav(8000, 1, 16, test::PcmSamples(1600, 1, 16)); // 0.2 s
            file.write(bytes.data(), qint64(bytes.size()));
        }
        dialogs->files.push_back(Path("sound"));
        dialogs->confirmations.push_back(true);
        dialogs->files.push_back(wav);
        Form5->AviFiLe1->trigger();
        QCOMPARE(dialogs->fileRequests.size(), std::size_t(2));
        QCOMPARE(dialogs->fileRequests.at(1).filter, QString("WAV files (*.wav)|*.wav"));
        QCOMPARE(dialogs->fileRequests.at(1).save, false);
        // The video lands where the save dialog pointed, not beside the sound.
        QVERIFY(QFile::exists(Path("sound.avi")));
        QVERIFY(!QFile::exists(QDir(sounds.path()).filePath("sound.avi")));
        QCOMPARE(AudioStreams(Path("sound.avi")), 1);
        QCOMPARE(VideoBlues(Path("sound.avi"), 8, 6), (std::vector<int>{0, 1, 2, 3}));

        // Yes, then a cancelled sound dialog: a silent video.
        dialogs->clear();
        dialogs->files.push_back(Path("silent.avi"));
        dialogs->confirmations.push_back(true);
        dialogs->files.push_back(std::nullopt);
        Form5->AviFiLe1->trigger();
        QCOMPARE(AudioStreams(Path("silent.avi")), 0);
        QCOMPARE(Form5->Label2->text(), QString(" "));
    }

    void aviExportsThatWriteNothing() {
        Animate(Frames(3, 8, 6));
        const QStringList workFilesBefore = WorkFiles();
        const QStringList videosBefore = QDir(folder_.path()).entryList({"*.avi"}, QDir::Files);
        // A cancelled save dialog: no question, nothing written, the label blank.
        dialogs->files.push_back(std::nullopt);
        Form5->AviFiLe1->trigger();
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(Form5->Label2->text(), QString(" "));
        QCOMPARE(QDir(folder_.path()).entryList({"*.avi"}, QDir::Files), videosBefore);

        // A sound file without the .wav extension is refused before anything is written.
        dialogs->files.push_back(Path("noise.avi"));
        dialogs->confirmations.push_back(true);
        dialogs->files.push_back(Path("noise.mp3"));
        Form5->AviFiLe1->trigger();
        QCOMPARE(dialogs->boxes.back().kind, BoxKind::ApplicationError);
        QCOMPARE(dialogs->boxes.back().text,
                 QString("WavFileName must name a file with the .wav extension."));
        QVERIFY(!QFile::exists(Path("noise.avi")));
        QCOMPARE(Form5->Label2->text(), QString("Building Avi..."));

        // A sound file that is no sound: the writer's message, no video, an existing file of
        // that name intact, no work file left behind.
        QFile bad(Path("bad.wav"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("RIFF\x04\0\0\0WAVEjunk", 16);
        bad.close();
        QFile old(Path("clip.avi"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents");
        old.close();
        dialogs->clear();
        dialogs->files.push_back(Path("clip.avi"));
        dialogs->confirmations.push_back(true);
        dialogs->files.push_back(Path("bad.wav"));
        Form5->AviFiLe1->trigger();
        QCOMPARE(dialogs->boxes.back().kind, BoxKind::ApplicationError);
        QVERIFY(!dialogs->boxes.back().text.isEmpty());
        QFile check(Path("clip.avi"));
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray("old contents"));
        QCOMPARE(WorkFiles(), workFilesBefore);
    }

    // File > Save and Make > Avi FiLe against a full disk, a folder that takes no new files
    // and a folder where the file should go: the error box tells why, and the folder is
    // left exactly as it was, the older file included, with no temporary and no work file.
    void writeFaultsAreReportedAndChangeNothing_data() {
        QTest::addColumn<bool>("video");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("message"); // % stands for the file's path
        // The writer's own message, as the window has always shown it.
        const QString video = "Unable to write output file.";
        QTest::newRow("save, full disk")
            << false << int(FullDisk) << "Cannot write file '%': File too large.";
        QTest::newRow("save, locked folder")
            << false << int(LockedFolder) << "Cannot create file '%': Permission denied.";
        QTest::newRow("save, folder in the way")
            << false << int(FolderInTheWay) << "Cannot write file '%': it is a folder.";
        QTest::newRow("video, full disk") << true << int(FullDisk) << video;
        QTest::newRow("video, locked folder") << true << int(LockedFolder) << video;
        QTest::newRow("video, folder in the way") << true << int(FolderInTheWay) << video;
    }
    void writeFaultsAreReportedAndChangeNothing() {
        QFETCH(bool, video);
        QFETCH(int, fault);
        QFETCH(QString, message);
        Animate(Frames(3, 8, 6));
        Form5->Forward1->trigger();
        QTemporaryDir outputs;
        const QString folder = QDir(outputs.path()).filePath("out");
        const QString file = folder + (video ? "/clip.avi" : "/clip.vQv");
        QVERIFY(QDir().mkpath(fault == FolderInTheWay ? file + "/inside" : folder));
        if (fault != FolderInTheWay) {
            QFile old(file);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("an older file");
        }
        std::optional<test::LockedFolder> locked;
        if (fault == LockedFolder) {
            locked.emplace(folder.toStdString());
        }
        const auto before = test::Snapshot(outputs.path().toStdString());
        const QStringList workFilesBefore = WorkFiles();
        dialogs->files.push_back(folder + "/clip");
        if (video) {
            dialogs->confirmations.push_back(false);
        }
        {
            // 588 bytes of .vQv; 432 bytes of video frames in the work file, which fit, and
            // more for the finished video, which does not.
            std::optional<test::FileSizeLimit> full;
            if (fault == FullDisk) {
                full.emplace(video ? 432 : 300);
            }
            const test::PermissionBitsBind bind;
            (video ? Form5->AviFiLe1 : Form5->Save1)->trigger();
        }
        QVERIFY(!dialogs->boxes.empty());
        QCOMPARE(dialogs->boxes.back().kind, BoxKind::ApplicationError);
        QCOMPARE(dialogs->boxes.back().text, message.replace('%', file));
        QVERIFY(test::Snapshot(outputs.path().toStdString()) == before);
        QCOMPARE(WorkFiles(), workFilesBefore);
    }

    // --- Make > Video File... ---

    // Frame f: smooth gradients with blue 20 + 40 f, so that a lossy codec keeps each frame
    // far closer to its own picture than to any other.
    static std::vector<Bitmap> VideoFrames(int count) {
        std::vector<Bitmap> frames;
        for (int f = 0; f < count; ++f) {
            Bitmap b(32, 24);
            for (int y = 0; y < 24; ++y) {
                for (int x = 0; x < 32; ++x) {
                    b.setPixel(
                        x, y,
                        RGB(std::uint8_t(x * 8), std::uint8_t(y * 10), std::uint8_t(20 + 40 * f)));
                }
            }
            frames.push_back(b);
        }
        return frames;
    }

    static std::vector<int> Order(const QString& direction, int n) {
        std::vector<int> order;
        if (direction != "b") {
            for (int i = 0; i < n; ++i) {
                order.push_back(i);
            }
        }
        if (direction != "f") {
            for (int i = n - 1; i >= 0; --i) {
                order.push_back(i);
            }
        }
        return order;
    }

    void CheckDirection(const QString& direction) {
        (direction == "f"   ? Form5->Forward1
         : direction == "b" ? Form5->Backward1
                            : Form5->ForwardAndBackward1)
            ->trigger();
    }

    void SetPeriod(int m) {
        while (Form5->Edit1->text().toInt() < m) {
            QTest::mouseClick(Form5->UpDown1->upButton(), Qt::LeftButton);
        }
        while (Form5->Edit1->text().toInt() > m) {
            QTest::mouseClick(Form5->UpDown1->downButton(), Qt::LeftButton);
        }
    }

    // Runs Make > Video File... with the save dialog answered by `typed` with filter entry
    // `filter`.
    void ExportVideo(const QString& typed, int filter) {
        dialogs->files.push_back(typed);
        dialogs->filters.push_back(filter);
        Form5->VideoFile1->trigger();
    }

    static QString WriteFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }

    // Every format through the dialog: the typed name's extension, or the filter's when it
    // has none; the frames in the checked direction, each lasting the period; pictures read
    // back by an independent decoder (WebP animations: by their frame headers only, since the
    // decoder here cannot read them).
    void videoFileWritesEachFormatInTheDirectionAndPeriod_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("direction"); // f, b or fb
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<double>("minPsnr"); // 0: not decoded
        const auto row = [](const char* name, const char* typed, int filter, const char* direction,
                            const char* written, const char* codec, double minPsnr) {
            QTest::newRow(name) << QString(typed) << filter << QString(direction)
                                << QString(written) << QString(codec) << minPsnr;
        };
        row("mp4 by the filter", "clip", 0, "f", "clip.mp4", "h264", 34);
        row("webm typed over the mp4 filter", "ping.webm", 0, "fb", "ping.webm", "vp9", 34);
        // The ordered dither costs more on these steep gradients than on photographs (the
        // writer's own tests hold GIF to 28 dB on the samples); a wrong frame scores below 21.
        row("gif", "anim", 2, "b", "anim.gif", "gif", 25);
        row("webp", "anim", 3, "f", "anim.webp", "webp", 0);
        row("apng", "anim", 4, "fb", "anim.apng", "apng", INFINITY);
    }
    void videoFileWritesEachFormatInTheDirectionAndPeriod() {
        QFETCH(QString, typed);
        QFETCH(int, filter);
        QFETCH(QString, direction);
        QFETCH(QString, written);
        QFETCH(QString, codec);
        QFETCH(double, minPsnr);
        const std::vector<Bitmap> frames = VideoFrames(5);
        Animate(frames);
        CheckDirection(direction);
        SetPeriod(3);
        QTemporaryDir out;
        const bool sound = codec == "h264" || codec == "vp9";
        if (sound) {
            dialogs->confirmations.push_back(false);
        }
        ExportVideo(QDir(out.path()).filePath(typed), filter);

        QCOMPARE(dialogs->fileRequests.at(0).save, true);
        QCOMPARE(dialogs->fileRequests.at(0).filter,
                 QString("MP4 video, H.264 (*.mp4)|*.mp4|WebM video, VP9 (*.webm)|*.webm|"
                         "Animated GIF (*.gif)|*.gif|Animated WebP (*.webp)|*.webp|"
                         "Animated PNG (*.apng)|*.apng|Folder of PNG frames (*)|*"));
        // Only a format that carries sound asks for it.
        QCOMPARE(dialogs->boxes.size(), std::size_t(sound ? 1 : 0));
        if (sound) {
            QCOMPARE(dialogs->boxes.at(0).kind, BoxKind::Confirmation);
            QCOMPARE(dialogs->boxes.at(0).text,
                     QString(" Would you like to Put Wav File In Your Video? "));
        }
        QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{written});
        const std::string path = QDir(out.path()).filePath(written).toStdString();
        const std::vector<int> order = Order(direction, 5);
        const int count = int(order.size());
        const std::string bytes = test::ReadAll(path);
        if (minPsnr > 0) {
            const auto streams = test::ProbeStreams(path);
            QCOMPARE(streams.size(), std::size_t(1));
            QCOMPARE(QString::fromStdString(streams[0].at("codec_name")), codec);
            QCOMPARE(streams[0].at("width"), std::string("32"));
            QCOMPARE(streams[0].at("height"), std::string("24"));
            QCOMPARE(streams[0].at("nb_read_frames"), std::to_string(count));
            if (codec == "h264" || codec == "vp9" || codec == "apng") {
                QCOMPARE(streams[0].at("r_frame_rate"), std::string("20/3")); // 150 ms
            }
            const std::string decoded = test::DecodeVideo(path);
            const std::size_t frameBytes = 32 * 24 * 3;
            QCOMPARE(decoded.size(), frameBytes * std::size_t(count));
            for (int k = 0; k < count; ++k) {
                const double psnr =
                    test::Psnr(decoded.substr(frameBytes * std::size_t(k), frameBytes),
                               test::RgbBytes(frames[std::size_t(order[std::size_t(k)])]));
                QVERIFY2(psnr >= minPsnr, qPrintable(QString("frame %1: %2 dB").arg(k).arg(psnr)));
            }
        }
        if (codec == "gif") {
            QCOMPARE(test::GifTiming(bytes).delays, std::vector<int>(std::size_t(count), 15));
        } else if (codec == "webp") {
            const test::AnimationTiming t = test::WebpTiming(bytes);
            QVERIFY(t.valid);
            QCOMPARE(t.width, 32);
            QCOMPARE(t.delays, std::vector<int>(std::size_t(count), 150));
        } else if (codec == "apng") {
            QCOMPARE(test::ApngTiming(bytes).delays, std::vector<int>(std::size_t(count), 150));
        }
        // The progress as painted, frame by frame, then a blank label.
        for (int k = 0; k <= count; ++k) {
            const QString step = QString("Building Video... %1/%2").arg(k).arg(count);
            QVERIFY2(painted_.contains(step), qPrintable(step));
        }
        QCOMPARE(Form5->Label2->text(), QString(" "));
        QCOMPARE(Form5->VideoFile1->text(), QString("Video File..."));
        QVERIFY(Form5->Open1->isEnabled() && Form5->AviFiLe1->isEnabled());
        QCOMPARE(Form5->FrameCount, 5);
    }

    // A folder of PNG frames from the dialog's last entry: frame_000.png onwards, in the
    // direction's order, identical to the frames; no sound question.
    void videoFileWritesAFolderOfPngFrames() {
        const std::vector<Bitmap> frames = VideoFrames(3);
        Animate(frames);
        CheckDirection("fb");
        ExportVideo(Path("frames"), 5);
        QVERIFY(dialogs->boxes.empty());
        const QStringList names = QDir(Path("frames")).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(names, (QStringList{"frame_000.png", "frame_001.png", "frame_002.png",
                                     "frame_003.png", "frame_004.png", "frame_005.png"}));
        const std::vector<int> order = Order("fb", 3);
        for (int k = 0; k < 6; ++k) {
            QVERIFY(LoadPicture(Path("frames/" + names[k]).toStdString()) ==
                    frames[std::size_t(order[std::size_t(k)])]);
        }
        QVERIFY(painted_.contains("Writing Frames... 6/6"));
        QCOMPARE(Form5->Label2->text(), QString(" "));

        // A file where the folder should be is refused, and stays.
        WriteFile(Path("taken"), "a file");
        ExportVideo(Path("taken"), 5);
        QCOMPARE(dialogs->boxes.back().kind, BoxKind::ApplicationError);
        QCOMPARE(
            dialogs->boxes.back().text,
            QString("Cannot write the frames to '%1': it is not a folder.").arg(Path("taken")));
        QVERIFY(QFileInfo(Path("taken")).isFile());
    }

    // The sound goes into the MP4 as AAC; a refused name, a WAV that does not parse and a
    // cancelled dialog write nothing and keep an older file.
    void videoFileSoundAndRefusals() {
        Animate(VideoFrames(4));
        CheckDirection("f");
        QTemporaryDir out;
        const QString folder = out.path();
        const QString wav = QDir(folder).filePath("tune.wav");
        const std::string pcm = test::PcmWav(8000, 1, 16, test::PcmSamples(800, 1, 16));
        WriteFile(wav, QByteArray(pcm.data(), qsizetype(pcm.size())));
        dialogs->confirmations.push_back(true);
        dialogs->files.push_back(QDir(folder).filePath("sound"));
        dialogs->filters.push_back(0);
        dialogs->files.push_back(wav);
        Form5->VideoFile1->trigger();
        QCOMPARE(dialogs->fileRequests.at(1).filter, QString("WAV files (*.wav)|*.wav"));
        const auto streams = test::ProbeStreams(QDir(folder).filePath("sound.mp4").toStdString());
        QCOMPARE(streams.size(), std::size_t(2));
        QCOMPARE(streams[1].at("codec_name"), std::string("aac"));

        WriteFile(QDir(folder).filePath("bad.wav"), "RIFF\x04\0\0\0WAVEjunk");
        WriteFile(QDir(folder).filePath("clip.mp4"), "an older file");
        const auto before = test::Snapshot(folder.toStdString());
        struct Case {
            QString typed;
            std::optional<QString> sound; // answered Yes with this file
            QString message;              // empty: no box at all
        };
        const QString clip = QDir(folder).filePath("clip.mp4");
        const Case cases[] = {
            {QDir(folder).filePath("clip.txt"), std::nullopt,
             QString("Cannot write the video '%1': its name does not end in .mp4, .webm, .gif, "
                     ".webp or .apng.")
                 .arg(QDir(folder).filePath("clip.txt"))},
            {clip, QDir(folder).filePath("bad.wav"),
             QString("Cannot write the video '%1' with the sound of '%2'")
                 .arg(clip, QDir(folder).filePath("bad.wav"))},
        };
        for (const Case& c : cases) {
            dialogs->clear();
            dialogs->files.push_back(c.typed);
            if (c.sound) {
                dialogs->confirmations.push_back(true);
                dialogs->files.push_back(*c.sound);
            }
            Form5->VideoFile1->trigger();
            QCOMPARE(dialogs->boxes.back().kind, BoxKind::ApplicationError);
            QVERIFY2(dialogs->boxes.back().text.startsWith(c.message),
                     qPrintable(dialogs->boxes.back().text));
            QVERIFY(test::Snapshot(folder.toStdString()) == before);
            QCOMPARE(Form5->Label2->text(), QString(" "));
        }
        // A cancelled save dialog: nothing asked, nothing written.
        dialogs->clear();
        dialogs->files.push_back(std::nullopt);
        Form5->VideoFile1->trigger();
        QVERIFY(dialogs->boxes.empty());
        QVERIFY(test::Snapshot(folder.toStdString()) == before);
    }

    // A cancel part way, by the menu item or by Escape, leaves the folder as it was, an older
    // file or older frames included. Meanwhile the commands that would change the frames are
    // off, and the window keeps handling events.
    void videoFileCancelLeavesTheFolderAsItWas_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("filter");
        QTest::addColumn<bool>("escape");
        QTest::addColumn<QString>("lead");
        QTest::newRow("mp4 by the menu") << "clip.mp4" << 0 << false << "Building Video... ";
        QTest::newRow("gif by escape") << "clip.gif" << 2 << true << "Building Video... ";
        QTest::newRow("png frames by the menu") << "frames" << 5 << false << "Writing Frames... ";
    }
    void videoFileCancelLeavesTheFolderAsItWas() {
        QFETCH(QString, typed);
        QFETCH(int, filter);
        QFETCH(bool, escape);
        QFETCH(QString, lead);
        Animate(VideoFrames(6));
        CheckDirection("f");
        QTemporaryDir out;
        const QString target = QDir(out.path()).filePath(typed);
        if (filter == 5) {
            QVERIFY(QDir().mkpath(target));
            WriteFile(target + "/frame_001.png", "older frame");
        } else {
            WriteFile(target, "an older file");
        }
        const auto before = test::Snapshot(out.path().toStdString());
        const std::vector<int> sequence = Sequence();

        // The user's cancel comes while the third step is on the screen.
        bool locked = false;
        statusPainted_ = [&](const QString& text) {
            if (text != lead + "2/6" || !Form5->VideoExportRunning) {
                return;
            }
            locked = !Form5->Open1->isEnabled() && !Form5->Picture1->isEnabled() &&
                     !Form5->vQvFile1->isEnabled() && !Form5->AviFiLe1->isEnabled() &&
                     !Form5->Save1->isEnabled() && !Form8->Button1->isEnabled() &&
                     Form5->VideoFile1->text() == "Cancel Video File";
            // Refused even when reached: an Open would replace the frames being written.
            Form5->Open1Click();
            Form5->FormShow();
            if (escape) {
                QTest::keyClick(Form5, Qt::Key_Escape);
            } else {
                Form5->VideoFile1->trigger();
            }
        };
        if (filter < 2) {
            dialogs->confirmations.push_back(false);
        }
        ExportVideo(target, filter);
        statusPainted_ = nullptr;
        QVERIFY2(painted_.contains(lead + "2/6"), qPrintable(painted_.join(" | ")));
        QVERIFY(!painted_.contains(lead + "3/6") && !painted_.contains(lead + "6/6"));
        QVERIFY(locked);
        QVERIFY(dialogs->boxes.size() == std::size_t(filter < 2 ? 1 : 0));
        QVERIFY(test::Snapshot(out.path().toStdString()) == before);
        QCOMPARE(Sequence(), sequence);
        QCOMPARE(Form5->Label2->text(), QString(" "));
        QCOMPARE(Form5->VideoFile1->text(), QString("Video File..."));
        QVERIFY(Form5->VideoFile1->shortcut().isEmpty());
        QVERIFY(Form5->Open1->isEnabled() && Form8->Button1->isEnabled());
        QVERIFY(!Form5->VideoExportRunning);
    }

    // An encoder or file failure is an error box naming the file, and the folder stays as it
    // was, the older file included.
    void videoFileWriteFaultsAreReported_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("filter");
        QTest::addColumn<int>("fault");
        QTest::newRow("mp4, locked folder") << "clip.mp4" << 0 << int(LockedFolder);
        QTest::newRow("webm, full disk") << "clip.webm" << 1 << int(FullDisk);
        QTest::newRow("gif, full disk") << "clip.gif" << 2 << int(FullDisk);
        QTest::newRow("png frames, locked folder") << "frames" << 5 << int(LockedFolder);
    }
    void videoFileWriteFaultsAreReported() {
        QFETCH(QString, typed);
        QFETCH(int, filter);
        QFETCH(int, fault);
        Animate(VideoFrames(4));
        QTemporaryDir outputs;
        const QString folder = QDir(outputs.path()).filePath("out");
        QVERIFY(QDir().mkpath(folder));
        const QString target = QDir(folder).filePath(typed);
        if (filter < 5) {
            WriteFile(target, "an older file");
        }
        std::optional<test::LockedFolder> lock;
        if (fault == LockedFolder) {
            lock.emplace(folder.toStdString());
        }
        const auto before = test::Snapshot(outputs.path().toStdString());
        if (filter < 2) {
            dialogs->confirmations.push_back(false);
        }
        {
            std::optional<test::FileSizeLimit> full;
            if (fault == FullDisk) {
                full.emplace(200);
            }
            const test::PermissionBitsBind bind;
            ExportVideo(target, filter);
        }
        QVERIFY(!dialogs->boxes.empty());
        QCOMPARE(dialogs->boxes.back().kind, BoxKind::ApplicationError);
        qInfo("%s", qPrintable(dialogs->boxes.back().text));
        QVERIFY2(dialogs->boxes.back().text.contains(folder),
                 qPrintable(dialogs->boxes.back().text));
        QVERIFY(test::Snapshot(outputs.path().toStdString()) == before);
        QCOMPARE(Form5->Label2->text(), QString(" "));
        QVERIFY(!Form5->VideoExportRunning);
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::AnimationWindowTest>(argc, argv, morph::dialogs);
}

#include "AnimationWindowTest.moc"
