// Drives the main window of a running program: start-up state, loading and clearing
// pictures, centring, Help > Info and errors from unreadable files.
#include "editor/MainWindow.h"
#include "editor/LinePropertiesDialog.h"
#include "editor/Program.h"
#include "editor/SourceLinesWindow.h"
#include "platform/gui/Application.h"
#include "support/Faults.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"
#include "support/WindowTesting.h"
#include "views/PropertiesWindow.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

QStringList Entries(const QComboBox* combo) {
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) {
        entries << combo->itemText(i);
    }
    return entries;
}

const QStringList kFixedEntries{"Maximum Size", "Image Size", "Number of Lines"};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder_;

    // A BMP of the given size whose pixel (x, y) has red x and green y.
    QString Picture(const QString& name, int w, int h, int blue = 0) {
        return test::SaveGradientBmp(folder_.filePath(name), w, h, 1, 1, blue);
    }

    void Load(Side side, const QString& path) {
        dialogs->files.push_back(path);
        (side == Side::Source ? Form1->Load1 : Form1->Targe1)->trigger();
    }

    void GiveLines(Side side, int count) {
        LineSet& lines = side == Side::Source ? Form1->SourceLines : Form1->TargetLines;
        for (int i = 0; i < count; ++i) {
            lines[i] = {i + 1, i + 2, i + 30, i + 40};
            Form2->AddLineEntry(side, i + 1);
        }
        (side == Side::Source ? Form1->SourceLineCount : Form1->TargetLineCount) = count;
    }

  private slots:
    void init() { dialogs->clear(); }

    void startUpState() {
        QVERIFY(Form1->isVisible());
        QCOMPARE(Form1->windowTitle(), QString("Morphing"));
        QCOMPARE(Form1->centralWidget()->size(), QSize(868, 391));
        QCOMPARE(Form1->pos(), QPoint(113, 121));
        QCOMPARE(Form1->Panel1->text(), QString("0 of 100 Maximum"));
        QCOMPARE(Form1->Panel2->text(), QString("0 of 100 Maximum"));
        QVERIFY(Form1->Button1->isVisible());
        QVERIFY(Form1->Button4->isVisible());
        QVERIFY(Form1->Bui1->isEnabled());
        QVERIFY(!Form1->WarpedImages1->isEnabled());
        QVERIFY(!Form1->InterpolatedLines1->isEnabled());
        QVERIFY(!Form1->WarpedImages2->isEnabled());
        QVERIFY(Form2->isVisible());
        QVERIFY(!Form6->isVisible());
        QVERIFY(!Form1->Image1->isEnabled());
        QCOMPARE(Form1->MorphFrames.size(), size_t(2));
        // The empty 164 x 164 design pictures centred in their frames.
        QCOMPARE(Form1->Image1->pos(), QPoint(134, 102));
        QCOMPARE(Form1->Image2->pos(), QPoint(566, 102));
        QCOMPARE(Form1->Button2->text(), QString("Put Lines"));
        QCOMPARE(Form1->Button3->text(), QString("Redraw Lines"));
        QCOMPARE(Form1->Button5->geometry(), QRect(288, 360, 97, 25));
        QCOMPARE(Form1->Bevel2->geometry(), QRect(440, 16, 417, 337));
    }

    void menusHaveTheirItems() {
        QStringList titles;
        for (QAction* a : Form1->menuBar()->actions()) {
            titles << a->text();
        }
        QCOMPARE(titles, (QStringList{"Load", "Build", "View", "Lines", "Play", "Help"}));
        const QList<QPair<const char*, const char*>> items{
            {"Load1", "Source"},
            {"Targe1", "Target"},
            {"Exit1", "Exit"},
            {"Bui1", "Interpolated Lines"},
            {"WarpedImages1", "Warped Images"},
            {"InterpolatedLines1", "Interpolated Lines"},
            {"WarpedImages2", "Warped Images"},
            {"Load2", "Properties Window"},
            {"Refresh1", "Refresh"},
            {"ClearLinesSource1", "Clear Lines Source"},
            {"ClearLinesTarget1", "Clear Lines Target"},
            {"PutLinesSouorce1", "Put Lines Source"},
            {"PutLinesTarget1", "Put Lines Target"},
            {"Properties2", "Properties"},
            {"AnimatorvQv1", "Animator vQv"},
            {"Properties1", "Info"}};
        for (const auto& [name, caption] : items) {
            auto* action = Form1->findChild<QAction*>(QString::fromLatin1(name));
            QVERIFY2(action, name);
            QCOMPARE(action->text(), QString::fromLatin1(caption));
        }
        for (const char* name : {"N1", "N2", "N3", "N4", "N5", "N6"}) {
            auto* action = Form1->findChild<QAction*>(QString::fromLatin1(name));
            QVERIFY2(action && action->isSeparator(), name);
        }
    }

    void cancellingTheOpenDialogChangesNothing() {
        const QPoint before = Form1->Image1->pos();
        dialogs->files.push_back(std::nullopt);
        QTest::mouseClick(Form1->Button1, Qt::LeftButton);
        QCOMPARE(dialogs->fileRequests.size(), size_t(1));
        QCOMPARE(dialogs->fileRequests[0].folder, QDir::currentPath());
        QVERIFY(dialogs->fileRequests[0].filter.startsWith("Bmp files (*.bmp)|*.bmp"));
        QVERIFY(Form1->Button1->isVisible());
        QCOMPARE(Form1->Image1->pos(), before);
        QVERIFY(dialogs->boxes.empty());
    }

    void aFileThatIsNotAPictureChangesNothing() {
        const QString path = folder_.filePath("notes.bmp");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("this is not a bitmap");
        file.close();
        GiveLines(Side::Source, 2);
        Load(Side::Source, path);
        QCOMPARE(dialogs->boxes.size(), size_t(1));
        QCOMPARE(dialogs->boxes[0].kind, BoxKind::ApplicationError);
        QCOMPARE(dialogs->boxes[0].caption, QString("Morphing"));
        QVERIFY(dialogs->boxes[0].text.contains("notes.bmp"));
        QVERIFY(dialogs->boxes[0].text.endsWith('.'));
        QCOMPARE(Form1->SourceLineCount, 2);
        QVERIFY(Form1->Button1->isVisible());
        Form1->Button5Click();
    }

    // A few bytes claiming a huge picture, and a picture needing more memory than the
    // machine has: refused with the size stated, before anything of the side changes.
    void picturesTooLargeForTheMachineChangeNothing() {
        const QString huge = folder_.filePath("huge.bmp");
        QFile file(huge);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const std::string bytes = test::BmpHeader(100000, 100000);
        file.write(bytes.data(), qint64(bytes.size()));
        file.close();
        const QString small = Picture("small.bmp", 64, 48);
        GiveLines(Side::Source, 2);
        Load(Side::Source, huge);
        {
            const test::AvailableMemory available(1000);
            Load(Side::Source, small);
        }
        QCOMPARE(dialogs->boxes.size(), size_t(2));
        QCOMPARE(dialogs->boxes[0].kind, BoxKind::ApplicationError);
        QCOMPARE(dialogs->boxes[0].text,
                 "Cannot read the picture '" + huge + "': 100000 x 100000 pixels is too large.");
        QCOMPARE(dialogs->boxes[1].kind, BoxKind::ApplicationError);
        QCOMPARE(dialogs->boxes[1].text, "Cannot read the picture '" + small +
                                             "': its 64 x 48 pixels need 24.0 KiB, but only "
                                             "1000 bytes of memory is available.");
        QCOMPARE(Form1->SourceLineCount, 2);
        QVERIFY(Form1->Button1->isVisible());
        Form1->Button5Click();
    }

    void loadingCentresWithHalvesToEvenAndResetsTheSide() {
        const QString path = Picture("odd.bmp", 101, 75);
        GiveLines(Side::Source, 3);
        GiveLines(Side::Target, 2);
        Load(Side::Source, path);
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(QDir::currentPath(), QDir(folder_.path()).absolutePath());
        QCOMPARE(Form1->Image1->size(), QSize(101, 75));
        QCOMPARE(Form1->Image1->pos(), QPoint(166, 146));
        QVERIFY(!Form1->Button1->isVisible());
        QCOMPARE(Form1->SourceLineCount, 0);
        QCOMPARE(Form1->Panel1->text(), QString("0 of 100 Maximum"));
        QCOMPARE(Entries(Form2->ComboBox1), kFixedEntries);
        QCOMPARE(Form2->ComboBox1->currentText(), QString(" Source Properties"));
        QCOMPARE(Form2->ListBox1->count(), 0);
        // The Target side keeps its lines and entries.
        QCOMPARE(Form1->TargetLineCount, 2);
        QCOMPARE(Entries(Form2->ComboBox2).size(), 5);
        // The clean copy and the first frame hold the picture: pixel (x, y) is red x, green y.
        QCOMPARE(Form1->CleanSourceBitmap.width(), 101);
        QCOMPARE(Form1->CleanSourceBitmap.pixel(7, 9), RGB(7, 9, 0));
        QCOMPARE(Form1->MorphFrames.front()->bitmap(), Form1->CleanSourceBitmap);
        QCOMPARE(Form1->Image1->bitmap(), Form1->CleanSourceBitmap);

        Load(Side::Target, Picture("large.bmp", 256, 256, 5));
        QCOMPARE(Form1->Image2->pos(), QPoint(440 + 208 - 128, 16 + 168 - 128));
        QCOMPARE(Form1->TargetLineCount, 0);
        QCOMPARE(Form1->MorphFrames.back()->bitmap().pixel(3, 4), RGB(3, 4, 5));
        QVERIFY(!Form1->Button4->isVisible());
    }

    void clearingRemovesLinesEntriesAndDrawings() {
        GiveLines(Side::Source, 3);
        Form1->Image1->canvas().setPenColour(0x00123456);
        Form1->Image1->canvas().MoveTo(0, 0);
        Form1->Image1->canvas().LineTo(50, 0);
        QCOMPARE(Entries(Form2->ComboBox1).size(), 6);
        QTest::mouseClick(Form1->Button5, Qt::LeftButton);
        QCOMPARE(Form1->SourceLineCount, 0);
        QCOMPARE(Form1->SourceLines[2], ControlLine{});
        QCOMPARE(Entries(Form2->ComboBox1), kFixedEntries);
        QCOMPARE(Form1->Panel1->text(), QString("0 of 100 Maximum"));
        QCOMPARE(Form1->Image1->bitmap(), Form1->CleanSourceBitmap);
        // Clearing an empty side keeps the fixed entries.
        Form1->ClearLinesSource1->trigger();
        QCOMPARE(Entries(Form2->ComboBox1), kFixedEntries);
        QCOMPARE(Form1->Panel1->text(), QString("0 of 100 Maximum"));
    }

    void doubleClickOnAnEnabledPictureClears() {
        GiveLines(Side::Target, 2);
        Form1->Image2->setEnabled(true);
        Form1->TargetEditing = true;
        Form1->Button3->setText("Ok");
        QTest::mouseDClick(Form1->Image2, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(Form1->TargetLineCount, 0);
        QVERIFY(!Form1->Image2->isEnabled());
        QVERIFY(!Form1->TargetEditing);
        QCOMPARE(Form1->Button3->text(), QString("Redraw Lines"));
    }

    void helpInfoShowsTheFrameTextUnconverted() {
        GiveLines(Side::Source, 1);
        Form2->Edit4->setText("abc");
        Form1->Properties1->trigger();
        QCOMPARE(dialogs->boxes.size(), size_t(1));
        QCOMPARE(dialogs->boxes[0].kind, BoxKind::Information);
        QCOMPARE(dialogs->boxes[0].caption, QString("Information"));
        QCOMPARE(dialogs->boxes[0].text, QString(" Frames:abc  Sourse Lines:1  Target Lines:0"));
        Form2->Edit4->setText("2");
        Form1->Button5Click();
    }

    void closingAnotherWindowOnlyHidesIt() {
        Form1->Properties2->trigger();
        QVERIFY(Form9->isVisible());
        Form9->close();
        QVERIFY(!Form9->isVisible());
        QVERIFY(Form1->isVisible());
        QVERIFY(Form9->parent() == nullptr); // still alive
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::MainWindowTest>(argc, argv, morph::dialogs);
}

#include "MainWindowTest.moc"
