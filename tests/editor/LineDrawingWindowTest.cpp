// Drives line drawing with the mouse on the main window's pictures: the mode toggles, the
// floating windows, drawing, grabbing, deleting and copying lines, the rubber band and the
// line limit.
#include "editor/LineRendering.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "editor/SourceLinesWindow.h"
#include "editor/TargetLinesWindow.h"
#include "platform/gui/Application.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"
#include "support/WindowTesting.h"
#include "views/PropertiesWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

QStringList LineEntries(const QComboBox* combo) {
    QStringList entries;
    for (int i = 3; i < combo->count(); ++i) {
        entries << combo->itemText(i);
    }
    return entries;
}

QStringList Numbered(int count) {
    QStringList entries;
    for (int n = 1; n <= count; ++n) {
        entries << QStringLiteral("Line %1").arg(n);
    }
    return entries;
}

Bitmap WithLines(Bitmap picture, const LineSet& lines, int count) {
    Canvas canvas(picture);
    DrawLineSet(lines, count, canvas, PenMode::Copy);
    return picture;
}

Bitmap FloatingPicture(const LineSet& lines, int count, int width, int height) {
    Bitmap picture(width, height);
    Canvas canvas(picture);
    canvas.setBrushColour(kWhite);
    DrawLineSet(lines, count, canvas, PenMode::Copy);
    DrawLineNumbers(lines, count, canvas);
    return picture;
}

Bitmap WithBand(Bitmap picture, QPoint start, QPoint end, int index) {
    Canvas canvas(picture);
    Drawline({start.x(), start.y()}, {end.x(), end.y()}, index, canvas, PenMode::NotXor);
    DrawArrowHead({start.x(), start.y()}, {end.x(), end.y()}, index, canvas, PenMode::NotXor);
    return picture;
}

void Press(PictureBox* picture, QPoint at, Qt::KeyboardModifiers keys = {},
           Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(picture, button, keys, at);
}

void Release(PictureBox* picture, QPoint at, Qt::KeyboardModifiers keys = {},
             Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(picture, button, keys, at);
}

// A move with the left button held.
void Move(PictureBox* picture, QPoint to, Qt::KeyboardModifiers keys = {}) {
    QMouseEvent move(QEvent::MouseMove, QPointF(to), QPointF(picture->mapToGlobal(to)),
                     Qt::NoButton, Qt::LeftButton, keys);
    QApplication::sendEvent(picture, &move);
}

void Drag(PictureBox* picture, QPoint from, QPoint to, Qt::KeyboardModifiers keys = {}) {
    Press(picture, from, keys);
    Move(picture, to, keys);
    Release(picture, to, keys);
}

} // namespace

class LineDrawingWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder_;

    // A BMP whose pixel (x, y) has red 2x, green 3y and the given blue.
    QString Picture(const QString& name, int w, int h, int blue) {
        return test::SaveGradientBmp(folder_.filePath(name), w, h, 2, 3, blue);
    }

    void LoadBoth(QSize source, QSize target) {
        dialogs->files.push_back(Picture("source.bmp", source.width(), source.height(), 40));
        Form1->Load1->trigger();
        dialogs->files.push_back(Picture("target.bmp", target.width(), target.height(), 200));
        Form1->Targe1->trigger();
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(dialogs->unexpected, 0);
    }

    void GiveSourceLines(int count) {
        for (int i = 0; i < count; ++i) {
            Form1->SourceLines[i] = {i, 1, i + 20, 60};
            Form2->AddLineEntry(Side::Source, i + 1);
        }
        Form1->SourceLineCount = count;
    }

    static Bitmap SourceWithLines() {
        return WithLines(Form1->CleanSourceBitmap, Form1->SourceLines, Form1->SourceLineCount);
    }

  private slots:
    void init() { dialogs->clear(); }

    // Leaves both modes and removes every line.
    void cleanup() {
        Form1->Button5Click();
        Form1->Button6Click();
    }

    void emptyPicturesEnterTheModeAndAClickAddsALineOfLengthZero() {
        QTest::mouseClick(Form1->Button2, Qt::LeftButton);
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(Form1->Button2->text(), QString("Ok"));
        QVERIFY(Form1->SourceEditing);
        QVERIFY(Form1->Image1->isEnabled());
        QCOMPARE(Form1->Bevel1->frameShape(), QFrame::NoFrame);
        QVERIFY(Form6->isVisible());

        Press(Form1->Image1, {40, 30});
        Release(Form1->Image1, {40, 30});
        QCOMPARE(Form1->SourceLineCount, 1);
        QCOMPARE(Form1->SourceLines[0], (ControlLine{40, 30, 40, 30}));
        QCOMPARE(Form1->Panel1->text(), QString("1 of 100 Maximum"));
        QCOMPARE(LineEntries(Form2->ComboBox1), Numbered(1));
        // Nothing shows on the picture; the floating window shows the number 1 there.
        QCOMPARE(Form1->Image1->bitmap(), Bitmap(164, 164));
        const Bitmap& floating = Form6->Image1->bitmap();
        QCOMPARE(floating, FloatingPicture(Form1->SourceLines, 1, 164, 164));
        QVERIFY(floating != Bitmap(164, 164));

        Form1->PutLinesSouorce1->trigger();
        QCOMPARE(Form1->Button2->text(), QString("Put Lines"));
        QVERIFY(!Form1->SourceEditing);
        QVERIFY(!Form1->Image1->isEnabled());
        QCOMPARE(Form1->Bevel1->frameShape(), QFrame::Box);
        QVERIFY(!Form6->isVisible());
    }

    void picturesOfDifferentSizesKeepBothSidesOutOfTheMode() {
        LoadBoth({200, 100}, {100, 200});
        QTest::mouseClick(Form1->Button2, Qt::LeftButton);
        Form1->PutLinesTarget1->trigger();
        QCOMPARE(dialogs->boxes.size(), size_t(2));
        for (const test::ShownBox& box : dialogs->boxes) {
            QCOMPARE(box.kind, BoxKind::Error);
            QCOMPARE(box.caption, QString("Error"));
            QCOMPARE(box.text, QString(" The Images Must Have the same Height and Width!"));
        }
        QCOMPARE(Form1->Button2->text(), QString("Put Lines"));
        QCOMPARE(Form1->Button3->text(), QString("Redraw Lines"));
        QVERIFY(!Form1->Image1->isEnabled());
        QVERIFY(!Form1->Image2->isEnabled());
        QCOMPARE(Form1->Bevel1->frameShape(), QFrame::Box);
        QCOMPARE(Form1->Bevel2->frameShape(), QFrame::Box);
        QVERIFY(!Form6->isVisible());
        QVERIFY(!Form7->isVisible());
    }

    void floatingWindowsSitBesideThePicturesWhileBothSidesDraw() {
        LoadBoth({120, 80}, {120, 80});
        QTest::mouseClick(Form1->Button2, Qt::LeftButton);
        QTest::mouseClick(Form1->Button3, Qt::LeftButton);
        QVERIFY(dialogs->boxes.empty());
        QVERIFY(Form6->isVisible() && Form7->isVisible());
        QCOMPARE(Form6->pos(), Form1->pos() + Form1->Image1->pos() - QPoint(120, 80));
        QCOMPARE(Form7->pos(), Form1->pos() + Form1->Image2->pos() + QPoint(120, -80));
        QCOMPARE(Form6->Image1->size(), QSize(120, 80));
        QCOMPARE(Form6->size(), QSize(120, 80));
        QCOMPARE(Form7->size(), QSize(120, 80));
        for (QWidget* window : {static_cast<QWidget*>(Form6), static_cast<QWidget*>(Form7)}) {
            const Qt::WindowFlags flags = window->windowFlags();
            QVERIFY(flags & Qt::WindowStaysOnTopHint);
            QVERIFY(!(flags & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint)));
        }
        QCOMPARE(Form6->windowTitle(), QString("Source"));
        QCOMPARE(Form7->windowTitle(), QString("Target"));
        QCOMPARE(Form1->Button3->text(), QString("Ok"));

        // The Target handlers mirror the Source ones.
        Press(Form1->Image2, {100, 5});
        Move(Form1->Image2, {-15, 90});
        QCOMPARE(Form7->windowTitle(), QString("Target 100,5 -15,90"));
        Release(Form1->Image2, {-15, 90});
        QCOMPARE(Form1->TargetLineCount, 1);
        QCOMPARE(Form1->TargetLines[0], (ControlLine{100, 5, -15, 90}));
        QCOMPARE(Form1->Panel2->text(), QString("1 of 100 Maximum"));
        QCOMPARE(LineEntries(Form2->ComboBox2), Numbered(1));

        // Leaving the Target mode: the button reads "Put Lines", not its start-up caption.
        QTest::mouseClick(Form1->Button3, Qt::LeftButton);
        QCOMPARE(Form1->Button3->text(), QString("Put Lines"));
        QVERIFY(!Form7->isVisible());
        QVERIFY(!Form1->Image2->isEnabled());
        QCOMPARE(Form1->Bevel2->frameShape(), QFrame::Box);
        QVERIFY(Form1->SourceEditing);
        QVERIFY(Form6->isVisible());
    }

    void aDragDrawsARubberBandAndAddsTheLineOnRelease() {
        LoadBoth({120, 80}, {120, 80});
        QTest::mouseClick(Form1->Button2, Qt::LeftButton);
        const Bitmap clean = Form1->CleanSourceBitmap;
        const Bitmap floatingBefore = Form6->Image1->bitmap();
        QCOMPARE(Form1->Image1->bitmap(), clean);

        Press(Form1->Image1, {10, 10});
        QVERIFY(Form1->ButtonIsDown);
        Move(Form1->Image1, {60, 40});
        QCOMPARE(Form6->windowTitle(), QString("Source 10,10 60,40"));
        QCOMPARE(Form1->Image1->bitmap(), WithBand(clean, {10, 10}, {60, 40}, 0));
        QCOMPARE(Form6->Image1->bitmap(), WithBand(floatingBefore, {10, 10}, {60, 40}, 0));
        // Each move erases the band bit for bit before drawing it again.
        Move(Form1->Image1, {30, 70});
        QCOMPARE(Form1->Image1->bitmap(), WithBand(clean, {10, 10}, {30, 70}, 0));
        QCOMPARE(Form6->Image1->bitmap(), WithBand(floatingBefore, {10, 10}, {30, 70}, 0));
        Move(Form1->Image1, {60, 40});
        Release(Form1->Image1, {70, 50});

        QCOMPARE(Form1->SourceLineCount, 1);
        QCOMPARE(Form1->SourceLines[0], (ControlLine{10, 10, 70, 50}));
        QCOMPARE(Form1->Panel1->text(), QString("1 of 100 Maximum"));
        QCOMPARE(Form6->windowTitle(), QString("Source 10,10 60,40"));
        QCOMPARE(LineEntries(Form2->ComboBox1), Numbered(1));
        QCOMPARE(Form1->Image1->bitmap(), SourceWithLines());
        QCOMPARE(Form6->Image1->bitmap(), FloatingPicture(Form1->SourceLines, 1, 120, 80));

        // Moves after the release draw nothing.
        Move(Form1->Image1, {5, 5});
        QCOMPARE(Form1->Image1->bitmap(), SourceWithLines());
        QCOMPARE(Form6->windowTitle(), QString("Source 10,10 60,40"));
    }

    void ctrlMovesTheEndPointWithinEightPixels() {
        LoadBoth({120, 80}, {120, 80});
        QTest::mouseClick(Form1->Button2, Qt::LeftButton);
        Drag(Form1->Image1, {20, 20}, {100, 20});
        Drag(Form1->Image1, {60, 60}, {30, 40});
        Drag(Form1->Image1, {110, 70}, {100, 60});
        Drag(Form1->Image1, {36, 44}, {90, 75});
        QCOMPARE(Form1->SourceLineCount, 4);

        // (33, 42) is within 8 pixels of the end of line 1 and the start of line 3.
        Press(Form1->Image1, {33, 42}, Qt::ControlModifier);
        Move(Form1->Image1, {25, 70}, Qt::ControlModifier);
        Release(Form1->Image1, {25, 70}, Qt::ControlModifier);
        QCOMPARE(Form1->SourceLines[1], (ControlLine{60, 60, 25, 70}));
        QCOMPARE(Form1->SourceLines[3], (ControlLine{36, 44, 90, 75}));
        QCOMPARE(Form6->windowTitle(), QString("Source 60,60 25,70"));

        // 7 pixels below the start of line 0 grabs it; its old image turns white meanwhile.
        Press(Form1->Image1, {20, 27}, Qt::ControlModifier);
        Move(Form1->Image1, {15, 15}, Qt::ControlModifier);
        QCOMPARE(Form1->Image1->bitmap().pixel(60, 20), kWhite);
        QCOMPARE(Form6->windowTitle(), QString("Source 15,15 100,20"));
        Release(Form1->Image1, {15, 15}, Qt::ControlModifier);
        QCOMPARE(Form1->SourceLines[0], (ControlLine{15, 15, 100, 20}));

        // Exactly 8 pixels away grabs nothing, and a Ctrl-drag adds no line.
        Press(Form1->Image1, {15, 23}, Qt::ControlModifier);
        Move(Form1->Image1, {50, 50}, Qt::ControlModifier);
        QVERIFY(Form1->Image1->bitmap() != SourceWithLines());
        Release(Form1->Image1, {50, 50}, Qt::ControlModifier);
        QCOMPARE(Form6->windowTitle(), QString("Source 15,23 50,50"));

        // Ctrl wins over Shift: the end of line 0 moves, nothing is deleted.
        const Qt::KeyboardModifiers both = Qt::ControlModifier | Qt::ShiftModifier;
        Press(Form1->Image1, {100, 26}, both, Qt::RightButton);
        Release(Form1->Image1, {105, 25}, both, Qt::RightButton);
        QCOMPARE(Form1->SourceLines[0], (ControlLine{15, 15, 105, 25}));

        QCOMPARE(Form1->SourceLineCount, 4);
        QCOMPARE(Form1->SourceLines[1], (ControlLine{60, 60, 25, 70}));
        QCOMPARE(Form1->SourceLines[2], (ControlLine{110, 70, 100, 60}));
        QCOMPARE(Form1->SourceLines[3], (ControlLine{36, 44, 90, 75}));
        QCOMPARE(LineEntries(Form2->ComboBox1), Numbered(4));
        QCOMPARE(Form1->Image1->bitmap(), SourceWithLines());
    }

    void shiftRightClickDeletesTheNearestLineAndRenumbers() {
        LoadBoth({120, 80}, {120, 80});
        QTest::mouseClick(Form1->Button2, Qt::LeftButton);
        Drag(Form1->Image1, {10, 10}, {110, 10});
        Drag(Form1->Image1, {10, 40}, {110, 40});
        Drag(Form1->Image1, {10, 70}, {110, 70});
        QCOMPARE(Form1->Image1->bitmap().pixel(60, 70), LineColour(2));

        Press(Form1->Image1, {60, 42}, Qt::ShiftModifier, Qt::RightButton);
        Release(Form1->Image1, {60, 42}, Qt::ShiftModifier, Qt::RightButton);
        QCOMPARE(Form1->SourceLineCount, 2);
        QCOMPARE(Form1->SourceLines[0], (ControlLine{10, 10, 110, 10}));
        QCOMPARE(Form1->SourceLines[1], (ControlLine{10, 70, 110, 70}));
        QCOMPARE(Form1->SourceLines[2], ControlLine{});
        QCOMPARE(Form1->Panel1->text(), QString("2 of 100 Maximum"));
        QCOMPARE(LineEntries(Form2->ComboBox1), Numbered(2));
        // The former third line takes the second line's colour.
        QCOMPARE(Form1->Image1->bitmap(), SourceWithLines());
        QCOMPARE(Form1->Image1->bitmap().pixel(60, 70), LineColour(1));
        QCOMPARE(Form6->Image1->bitmap(), FloatingPicture(Form1->SourceLines, 2, 120, 80));

        // Shift-clicks on a side without lines neither delete nor copy.
        QTest::mouseClick(Form1->Button3, Qt::LeftButton);
        for (Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
            Press(Form1->Image2, {60, 40}, Qt::ShiftModifier, button);
            Release(Form1->Image2, {60, 40}, Qt::ShiftModifier, button);
        }
        QCOMPARE(Form1->TargetLineCount, 0);
        QCOMPARE(Form1->SourceLineCount, 2);
        QCOMPARE(LineEntries(Form2->ComboBox2), QStringList());
        QCOMPARE(LineEntries(Form2->ComboBox1), Numbered(2));
        QCOMPARE(Form1->Panel2->text(), QString("0 of 100 Maximum"));
    }

    void shiftClickCopiesTheNearestLineToTheOtherSide() {
        LoadBoth({120, 80}, {120, 80});
        QTest::mouseClick(Form1->Button2, Qt::LeftButton);
        Drag(Form1->Image1, {10, 10}, {110, 10});
        Drag(Form1->Image1, {10, 40}, {110, 70});

        // The Target is not in the mode and still gets the copy at once.
        Press(Form1->Image1, {60, 55}, Qt::ShiftModifier);
        QVERIFY(!Form1->ButtonIsDown);
        QCOMPARE(Form1->TargetLineCount, 1);
        QCOMPARE(Form1->TargetLines[0], (ControlLine{10, 40, 110, 70}));
        QCOMPARE(Form1->Panel2->text(), QString("1 of 100 Maximum"));
        QCOMPARE(LineEntries(Form2->ComboBox2), Numbered(1));
        QCOMPARE(Form1->Image2->bitmap(),
                 WithLines(Form1->CleanTargetBitmap, Form1->TargetLines, 1));
        Release(Form1->Image1, {60, 55}, Qt::ShiftModifier);

        Press(Form1->Image1, {50, 12}, Qt::ShiftModifier, Qt::MiddleButton);
        Release(Form1->Image1, {50, 12}, Qt::ShiftModifier, Qt::MiddleButton);
        QCOMPARE(Form1->TargetLineCount, 2);
        QCOMPARE(Form1->TargetLines[1], (ControlLine{10, 10, 110, 10}));
        QCOMPARE(LineEntries(Form2->ComboBox2), Numbered(2));
        QCOMPARE(Form1->Panel2->text(), QString("2 of 100 Maximum"));

        // The Source keeps its lines.
        QCOMPARE(Form1->SourceLineCount, 2);
        QCOMPARE(LineEntries(Form2->ComboBox1), Numbered(2));
        QCOMPARE(Form1->Image1->bitmap(), SourceWithLines());
    }

    void aSideHoldsAtMostOneHundredLines() {
        LoadBoth({120, 80}, {120, 80});
        QTest::mouseClick(Form1->Button2, Qt::LeftButton);
        QTest::mouseClick(Form1->Button3, Qt::LeftButton);
        GiveSourceLines(99);
        QTest::mouseClick(Form1->Image1, Qt::LeftButton, {}, QPoint(5, 6));
        QCOMPARE(Form1->SourceLineCount, 100);
        QCOMPARE(Form1->SourceLines[99], (ControlLine{5, 6, 5, 6}));
        QCOMPARE(Form1->Panel1->text(), QString("100 of 100 Maximum"));
        QVERIFY(dialogs->boxes.empty());

        const QString full(" The Source already has 100 Lines, the Maximum!");
        Drag(Form1->Image1, {10, 10}, {50, 50});
        QCOMPARE(dialogs->boxes.size(), size_t(1));
        QCOMPARE(dialogs->boxes[0].kind, BoxKind::Information);
        QCOMPARE(dialogs->boxes[0].caption, QString("Information"));
        QCOMPARE(dialogs->boxes[0].text, full);
        QCOMPARE(Form1->SourceLineCount, 100);
        QCOMPARE(Form1->SourceLines[100], ControlLine{});
        QCOMPARE(LineEntries(Form2->ComboBox1), Numbered(100));
        QCOMPARE(Form1->Panel1->text(), QString("100 of 100 Maximum"));
        QCOMPARE(Form1->Image1->bitmap(), SourceWithLines());
        QVERIFY(!Form1->ButtonIsDown);

        // A copy into the full side is refused the same way.
        Drag(Form1->Image2, {10, 10}, {50, 50});
        Press(Form1->Image2, {30, 30}, Qt::ShiftModifier);
        QVERIFY(!Form1->ButtonIsDown);
        Release(Form1->Image2, {30, 30}, Qt::ShiftModifier);
        QCOMPARE(dialogs->boxes.size(), size_t(2));
        QCOMPARE(dialogs->boxes[1].text, full);
        QCOMPARE(Form1->SourceLineCount, 100);
        QCOMPARE(Form1->SourceLines[100], ControlLine{});
        QCOMPARE(LineEntries(Form2->ComboBox1).size(), 100);
        QCOMPARE(Form1->TargetLineCount, 1);
    }

    void findNearestLineScoresLengthTimesDistance() {
        Form1->SourceLines[0] = {300, 300, 310, 300};
        Form1->SourceLines[1] = {10, 50, 110, 50};
        Form1->SourceLines[2] = {200, 20, 200, 20};
        Form1->SourceLineCount = 3;
        QCOMPARE(Form1->FindNearestLine(Side::Source, 60, 55), 1);  // 5 x 100 = 500
        QCOMPARE(Form1->FindNearestLine(Side::Source, 60, 60), 0);  // 10 x 100 is not below
        QCOMPARE(Form1->FindNearestLine(Side::Source, 203, 24), 2); // a point: 5 squared
        QCOMPARE(Form1->FindNearestLine(Side::Source, 200, 20), 2);
        QCOMPARE(Form1->FindNearestLine(Side::Source, 240, 20), 0);
        Form1->SourceLineCount = 0;
        Form1->SourceLines = LineSet{};
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::LineDrawingWindowTest>(argc, argv, morph::dialogs);
}

#include "LineDrawingWindowTest.moc"
