// Drives the main window's morph files, undo and redo, dropped files and the mouse help
// through the real menu items, the real pictures and scripted dialogs.
#include "animation/AnimationWindow.h"
#include "cli/Render.h"
#include "editor/LinePropertiesDialog.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "editor/SourceLinesWindow.h"
#include "editor/TargetLinesWindow.h"
#include "platform/QtImageIO.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"
#include "support/WindowTesting.h"
#include "views/ProgressWindow.h"
#include "views/PropertiesWindow.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <functional>
#include <sstream>
#include <vector>

Q_DECLARE_METATYPE(std::function<void()>)

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

void Press(PictureBox* picture, QPoint at, Qt::KeyboardModifiers keys = {},
           Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(picture, button, keys, at);
}

void Release(PictureBox* picture, QPoint at, Qt::KeyboardModifiers keys = {},
             Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(picture, button, keys, at);
}

void Drag(PictureBox* picture, QPoint from, QPoint to, Qt::KeyboardModifiers keys = {}) {
    Press(picture, from, keys);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), QPointF(picture->mapToGlobal(to)),
                     Qt::NoButton, Qt::LeftButton, keys);
    QApplication::sendEvent(picture, &move);
    Release(picture, to, keys);
}

QStringList ComboEntries(const QComboBox* combo) {
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) {
        entries << combo->itemText(i);
    }
    return entries;
}

QStringList Names(const QMenu* menu) {
    QStringList names;
    for (const QAction* action : menu->actions()) {
        names << action->objectName();
    }
    return names;
}

// What a user sees of the lines: both pictures, both floating pictures (a hidden one shows its
// picture again when its side re-enters the drawing mode), the panels and the Properties
// window's entries and setting texts.
struct View {
    Bitmap source, target, floatingSource, floatingTarget;
    QString panel1, panel2;
    QStringList combo1, combo2, settings;
    bool operator==(const View&) const = default;
};

View Seen() {
    return {Form1->Image1->bitmap(),
            Form1->Image2->bitmap(),
            Form6->Image1->bitmap(),
            Form7->Image1->bitmap(),
            Form1->Panel1->text(),
            Form1->Panel2->text(),
            ComboEntries(Form2->ComboBox1),
            ComboEntries(Form2->ComboBox2),
            {Form2->Edit1->text(), Form2->Edit2->text(), Form2->Edit3->text(), Form2->Edit4->text(),
             Form2->Edit7->text(), Form2->RadioButton1->isChecked() ? "endpoints" : "middle"}};
}

// Drags a file over the main window and drops it at `at`; false when the window refused it.
bool DropFile(const QString& file, QPoint at) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    enter.setAccepted(false);
    QApplication::sendEvent(Form1, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(Form1, &drop);
    return enter.isAccepted();
}

// What a user sees, leaving out the floating windows, which a fresh program has not yet
// fitted to the pictures (entering the drawing mode does that).
View SeenBesideFloating(const View& other) {
    View view = Seen();
    view.floatingSource = other.floatingSource;
    view.floatingTarget = other.floatingTarget;
    return view;
}

std::vector<Bitmap> Frames() {
    std::vector<Bitmap> frames;
    for (const PictureBox* frame : Form1->MorphFrames) {
        frames.push_back(frame->bitmap());
    }
    return frames;
}

} // namespace

class MorphFilesWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder_;

    QString Picture(const QString& name, int blue, int w = 60, int h = 50) {
        return test::SaveGradientBmp(folder_.filePath(name), w, h, 4, 5, blue);
    }

    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = folder_.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return path;
    }

    void LoadBoth() {
        dialogs->files.push_back(Picture("source.bmp", 40));
        Form1->Load1->trigger();
        dialogs->files.push_back(Picture("target.bmp", 200));
        Form1->Targe1->trigger();
    }

    // Both sides in the drawing mode with `pairs` lines drawn by the mouse.
    void DrawPairs(int pairs) {
        Form1->Button2->click();
        Form1->Button3->click();
        for (int i = 0; i < pairs; ++i) {
            Drag(Form1->Image1, {5 + 10 * i, 5}, {10 + 10 * i, 40});
            Drag(Form1->Image2, {8 + 12 * i, 8}, {6 + 11 * i, 45 - i});
        }
    }

    // A fresh program, as after quitting and starting it again.
    static void Restart() {
        DestroyProgramWindows();
        CreateProgramWindows();
        ShowProgram();
    }

  private slots:
    void init() {
        Restart();
        dialogs->clear();
    }

    void theNewItemsFollowTheExistingOnes() {
        QCOMPARE(Names(Form1->Source1), (QStringList{"Load1", "Targe1", "OpenMorph1", "SaveMorph1",
                                                     "SaveMorphAs1", "N1", "Exit1"}));
        QCOMPARE(Names(Form1->Lines1).mid(6), (QStringList{"Properties2", "N7", "Undo1", "Redo1"}));
        QCOMPARE(Names(Form1->Help1), (QStringList{"Properties1", "N2", "MouseandKeys1"}));
        QCOMPARE(Form1->OpenMorph1->shortcut(), QKeySequence("Ctrl+O"));
        QCOMPARE(Form1->SaveMorph1->shortcut(), QKeySequence("Ctrl+S"));
        QCOMPARE(Form1->Undo1->shortcut(), QKeySequence("Ctrl+Z"));
        QCOMPARE(Form1->Redo1->shortcuts(),
                 (QList<QKeySequence>{QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")}));
        QVERIFY(!Form1->Undo1->isEnabled() && !Form1->Redo1->isEnabled());
        QCOMPARE(Form1->Undo1->text(), QString("Undo"));

        Form1->MouseandKeys1->trigger();
        QCOMPARE(dialogs->boxes.size(), std::size_t(1));
        QCOMPARE(dialogs->boxes[0].kind, BoxKind::Information);
        for (const char* part : {"Ctrl+drag", "Shift+right-click", "Shift+click", "Double-click",
                                 "Ctrl+O", "Ctrl+S", "Ctrl+Z", "Ctrl+Y"}) {
            QVERIFY2(dialogs->boxes[0].text.contains(part), part);
        }
    }

    void aSavedMorphOpensAgainAsItWasAndBuildsTheSameFrames() {
        LoadBoth();
        DrawPairs(3);
        Form2->Edit4->setText("3");
        Form2->Edit1->setText("2.5");
        Form2->Edit2->setText("1.25");
        Form2->Edit3->setText("0.1");
        Form2->RadioButton1->setChecked(true);
        Form1->Bui1->trigger();
        Form1->WarpedImages1->trigger();
        const std::vector<Bitmap> frames = Frames();
        QCOMPARE(frames.size(), std::size_t(3));
        // The message is built whether or not the check fails: no box may be read when none
        // was shown.
        QVERIFY2(dialogs->boxes.empty(),
                 qPrintable(dialogs->boxes.empty() ? QString() : dialogs->boxes[0].text));
        dialogs->clear();

        // The first save asks for a name and adds the extension; the next one does not ask.
        dialogs->files.push_back(folder_.filePath("setup"));
        Form1->SaveMorph1->trigger();
        QCOMPARE(dialogs->fileRequests.size(), std::size_t(1));
        QVERIFY(dialogs->fileRequests[0].save);
        QVERIFY(dialogs->fileRequests[0].filter.startsWith("Morph files (*.morph)"));
        const QString file = folder_.filePath("setup.morph");
        QVERIFY(QFile::exists(file));
        QFile::remove(file);
        Form1->SaveMorph1->trigger();
        QCOMPARE(dialogs->fileRequests.size(), std::size_t(1));
        QVERIFY(QFile::exists(file));
        QVERIFY(dialogs->boxes.empty());

        // morph-render given the saved file writes the animation window's file of this build.
        Form1->AnimatorvQv1->trigger();
        dialogs->files.push_back(folder_.filePath("window.vQv"));
        Form5->Save1->trigger();
        Form5->close();
        std::ostringstream out, err;
        QCOMPARE(RunMorphRender({"--morph", file.toStdString(), "--vqv",
                                 folder_.filePath("render.vQv").toStdString()},
                                out, err),
                 0);
        QFile window(folder_.filePath("window.vQv")), rendered(folder_.filePath("render.vQv"));
        QVERIFY(window.open(QIODevice::ReadOnly) && rendered.open(QIODevice::ReadOnly));
        QVERIFY(window.size() > 0);
        QVERIFY(window.readAll() == rendered.readAll());
        dialogs->clear();
        // The panels and pictures as drawing left them, with the floating windows hidden.
        Form1->Button2->click();
        Form1->Button3->click();
        const View saved = Seen();

        Restart();
        dialogs->clear();
        dialogs->files.push_back(file);
        Form1->OpenMorph1->trigger();
        QVERIFY(dialogs->fileRequests[0].filter.contains("Lines files (*.txt *.lines)"));
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(Form1->windowTitle(), QString("Morphing"));
        QVERIFY(Form1->Button1->isHidden() && Form1->Button4->isHidden());
        QCOMPARE(Form1->Panel1->text(), QString("3 of 100 Maximum"));
        QCOMPARE(SeenBesideFloating(saved), saved);
        QCOMPARE(Form1->Undo1->text(), QString("Undo Open Morph"));

        Form1->Bui1->trigger();
        Form1->WarpedImages1->trigger();
        QVERIFY(dialogs->boxes.empty());
        QVERIFY(Frames() == frames);

        // Saved again to the opened file: the settings as converted numbers.
        Form2->RadioButton2->setChecked(true);
        Form2->Edit3->setText(" 1e-3");
        Form1->SaveMorph1->trigger();
        QCOMPARE(dialogs->fileRequests.size(), std::size_t(1));

        // A picture that is gone: the lines and settings open, the message names it.
        QFile::remove(folder_.filePath("source.bmp"));
        Restart();
        dialogs->clear();
        Form1->OpenMorphFile(file);
        QCOMPARE(dialogs->boxes.size(), std::size_t(1));
        QVERIFY(dialogs->boxes[0].text.contains("Source picture"));
        QVERIFY(dialogs->boxes[0].text.contains("source.bmp"));
        QCOMPARE(Form1->SourceLineCount, 3);
        QCOMPARE(Form1->Image2->bitmap(), saved.target);
        QCOMPARE(Seen().settings, (QStringList{"2.5", "1.25", "0.001", "3", "20", "middle"}));
        QCOMPARE(Seen().combo1, saved.combo1);
    }

    void aSettingThatDoesNotConvertStopsTheSave() {
        Form2->Edit3->setText("abc");
        dialogs->files.push_back(folder_.filePath("refused.morph"));
        Form1->SaveMorphAs1->trigger();
        QCOMPARE(dialogs->boxes.size(), std::size_t(1));
        QCOMPARE(dialogs->boxes[0].text, QString("'abc' is not a valid floating point value."));
        QVERIFY(!QFile::exists(folder_.filePath("refused.morph")));
    }

    void badMorphFilesChangeNothing_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        QByteArray manyLines = "# morph file, version 1\n";
        for (int i = 0; i < 101; ++i) {
            manyLines += "S 1 2 3 4\n";
        }
        QTest::newRow("unknown key") << Write("key.morph", "frames 3\ncolour red\n") << "line 2";
        QTest::newRow("bad number") << Write("number.morph", "a 2\nb one\n") << "line 2";
        QTest::newRow("101 lines") << Write("many.morph", manyLines) << "line 102";
        QTest::newRow("folder") << folder_.path() << folder_.path();
        QTest::newRow("binary") << Write("binary.morph",
                                         QByteArray("\x89PNG\r\n\x1a\n\0\0\x01", 11))
                                << "line 1";
        QTest::newRow("no such file") << folder_.filePath("none.morph") << "none.morph";
    }

    void badMorphFilesChangeNothing() {
        QFETCH(QString, file);
        QFETCH(QString, message);
        LoadBoth();
        DrawPairs(2);
        Form2->Edit4->setText("7");
        const View before = Seen();
        dialogs->files.push_back(file);
        Form1->OpenMorph1->trigger();
        QCOMPARE(dialogs->boxes.size(), std::size_t(1));
        QVERIFY2(dialogs->boxes[0].text.contains(message), qPrintable(dialogs->boxes[0].text));
        QCOMPARE(Seen(), before);
        QCOMPARE(Form1->Undo1->text(), QString("Undo Draw Target Line 2"));
    }

    void aDroppedFileOpensWhereItLands() {
        Form1->show();
        const QString source = Picture("dropped-source.bmp", 10);
        const QString target = Picture("dropped-target.bmp", 90, 40, 30);
        QVERIFY(DropFile(target, QPoint(700, 300)));
        QVERIFY(DropFile(source, QPoint(30, 300)));
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(Form1->CleanSourceBitmap, LoadPicture(source.toStdString()));
        QCOMPARE(Form1->CleanTargetBitmap, LoadPicture(target.toStdString()));

        Write("dropped.morph", "# morph file, version 1\nframes 9\nS 1 2 3 4\nT 4 3 2 1\n");
        QVERIFY(DropFile(folder_.filePath("dropped.morph"), QPoint(700, 60)));
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(Form2->Edit4->text(), QString("9"));
        QCOMPARE(Form1->TargetLineCount, 1);
    }

    void everyLineChangeUndoesAndRedoesExactly_data() {
        QTest::addColumn<QString>("step");
        QTest::addColumn<std::function<void()>>("change");
        using Change = std::function<void()>;
        QTest::newRow("draw") << "Draw Source Line 3" << Change([] {
            Drag(Form1->Image1, {50, 10}, {20, 30});
        });
        QTest::newRow("move") << "Move Target Line 1" << Change([] {
            Drag(Form1->Image2, {8, 9}, {30, 20}, Qt::ControlModifier);
        });
        QTest::newRow("delete") << "Delete Source Line 1" << Change([] {
            Press(Form1->Image1, {6, 10}, Qt::ShiftModifier, Qt::RightButton);
            Release(Form1->Image1, {6, 10}, Qt::ShiftModifier, Qt::RightButton);
        });
        QTest::newRow("copy") << "Copy Source Line 2 to Target" << Change([] {
            Press(Form1->Image1, {16, 20}, Qt::ShiftModifier);
            Release(Form1->Image1, {16, 20}, Qt::ShiftModifier);
        });
        QTest::newRow("clear") << "Clear Target Lines" << Change([] { Form1->Button6->click(); });
        QTest::newRow("double-click") << "Clear Source Lines" << Change([] {
            // The double-click event alone: its presses and releases draw lines first.
            QMouseEvent twice(QEvent::MouseButtonDblClick, QPointF(30, 30),
                              QPointF(Form1->Image1->mapToGlobal(QPoint(30, 30))), Qt::LeftButton,
                              Qt::LeftButton, {});
            QApplication::sendEvent(Form1->Image1, &twice);
        });
        QTest::newRow("apply") << "Apply Lines" << Change([] {
            Form1->Properties2->trigger();
            Form9->ListBox1->setCurrentRow(0);
            Form9->Button3->click();
            Form9->Button6->click();
        });
        QTest::newRow("load picture") << "Load Source" << Change([] {
            dialogs->files.push_back(QDir::current().filePath("source.bmp"));
            Form1->Load1->trigger();
        });
        QTest::newRow("open") << "Open Morph" << Change([] {
            dialogs->files.push_back(QDir::current().filePath("undo.morph"));
            Form1->OpenMorph1->trigger();
        });
    }

    void everyLineChangeUndoesAndRedoesExactly() {
        QFETCH(QString, step);
        QFETCH(std::function<void()>, change);
        Write("undo.morph", "S 1 1 50 40\nT 2 2 40 30\nT 5 5 5 5\n");
        LoadBoth();
        DrawPairs(2);
        const View before = Seen();
        change();
        QVERIFY(dialogs->boxes.empty());
        const View after = Seen();
        QVERIFY(!(after == before));
        QCOMPARE(Form1->Undo1->text(), "Undo " + step);

        Form1->Undo1->trigger();
        QCOMPARE(Seen(), before);
        QCOMPARE(Form1->Redo1->text(), "Redo " + step);
        Form1->Redo1->trigger();
        QCOMPARE(Seen(), after);
        Form1->Undo1->trigger();
        QCOMPARE(Seen(), before);
    }

    void nothingOfItRunsDuringAWarpedBuild() {
        LoadBoth();
        DrawPairs(2);
        Form2->Edit4->setText("3");
        Form2->Edit7->setText("1");
        Form1->Bui1->trigger();
        const QString morph = Write("during.morph", "S 1 1 2 2\nT 1 1 2 2\n");
        bool checked = false;
        const int lines = Form1->SourceLineCount;
        test::During([] { Form1->WarpedImages1->trigger(); },
                     [&] {
                         if (checked || !Form1->WarpedBuildRunning) {
                             return;
                         }
                         checked = true;
                         for (QAction* item : {Form1->OpenMorph1, Form1->SaveMorph1,
                                               Form1->SaveMorphAs1, Form1->Undo1, Form1->Redo1}) {
                             QVERIFY(!item->isEnabled());
                         }
                         Form1->Undo1Click();
                         Form1->OpenMorphFile(morph);
                         Form1->SaveMorphAs1Click();
                         QVERIFY(!DropFile(morph, QPoint(30, 300)));
                     });
        QVERIFY(checked);
        QCOMPARE(Form1->SourceLineCount, lines);
        QCOMPARE(dialogs->unexpected, 0);
        QVERIFY(Form1->Undo1->isEnabled() && !Form1->Redo1->isEnabled());
        QVERIFY(Form1->OpenMorph1->isEnabled());
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::MorphFilesWindowTest>(argc, argv, morph::dialogs);
}

#include "MorphFilesWindowTest.moc"
