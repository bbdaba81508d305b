// Drives the Line Properies dialog of a running program: the snapshot, copying, deleting,
// Apply, Close and Cancel, the line limit, and what the main window shows afterwards.
#include "editor/LinePropertiesDialog.h"
#include "editor/LineRendering.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "editor/SourceLinesWindow.h"
#include "editor/TargetLinesWindow.h"
#include "platform/gui/Application.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"
#include "views/PropertiesWindow.h"

#include <QImage>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

// The entries of a list or a combo box.
template <class W> QStringList Texts(const W* widget) {
    QStringList texts;
    for (int i = 0; i < widget->count(); ++i) {
        texts << widget->model()->index(i, 0).data().toString();
    }
    return texts;
}

QStringList Expected(int lines) {
    QStringList entries{"Maximum Size", "Image Size", "Number of Lines"};
    for (int n = 1; n <= lines; ++n) {
        entries << QString("Line %1").arg(n);
    }
    return entries;
}

void Click(QListWidget* list, int row, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
                      list->visualItemRect(list->item(row)).center());
}

// A side gets exactly these lines, the way drawing leaves them.
void SetLines(Side side, const std::vector<ControlLine>& lines) {
    side == Side::Source ? Form1->Button5Click() : Form1->Button6Click();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        (side == Side::Source ? Form1->SourceLines : Form1->TargetLines)[i] = lines[i];
        Form2->AddLineEntry(side, int(i) + 1);
    }
    (side == Side::Source ? Form1->SourceLineCount : Form1->TargetLineCount) = int(lines.size());
}

constexpr ControlLine kA{10, 20, 110, 20}, kB{10, 40, 110, 40}, kC{10, 60, 110, 60};

} // namespace

class LinePropertiesWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir folder_;

  private slots:
    void initTestCase() {
        QImage image(120, 90, QImage::Format_RGB32);
        image.fill(qRgb(200, 180, 160));
        const QString path = folder_.filePath("plain.bmp");
        QVERIFY(image.save(path, "BMP"));
        dialogs->files = {path, path};
        Form1->Load1->trigger();
        Form1->Targe1->trigger();
    }

    void init() { dialogs->clear(); }
    void cleanup() { Form9->Button7->click(); }

    void showTakesASnapshotAndCancelWritesNothing() {
        SetLines(Side::Source, {kA, {5, 6, 7, 8}});
        SetLines(Side::Target, {{-3, 4, 50, 60}});
        Form1->Properties2->trigger();
        QCOMPARE(Form9->windowTitle(), QString("Line Properies"));
        QCOMPARE(Form9->pos(), QPoint(277, 100));
        QCOMPARE(Form9->size(), QSize(471, 210));
        QCOMPARE(Texts(Form9->ListBox1), (QStringList{"1) 10, 20   110, 20", "2) 5, 6   7, 8"}));
        QCOMPARE(Texts(Form9->ListBox2), QStringList{"1) -3, 4   50, 60"});
        QVERIFY(!Form9->Button1->isEnabled() && !Form9->Button3->isEnabled());
        Click(Form9->ListBox2, 0);
        QVERIFY(Form9->Button1->isEnabled() && Form9->Button2->isEnabled());

        // Showing the open dialog again keeps its lists; Cancel drops the edits.
        Form1->SourceLineCount = 1;
        Form1->Properties2->trigger();
        QCOMPARE(Form9->ListBox1->count(), 2);
        QTest::mouseClick(Form9->Button3, Qt::LeftButton);
        QCOMPARE(Form9->ListBox2->count(), 0);
        QTest::mouseClick(Form9->Button7, Qt::LeftButton);
        QVERIFY(!Form9->isVisible());
        QCOMPARE(Form1->TargetLineCount, 1);
        Form1->Properties2->trigger();
        QCOMPARE(Texts(Form9->ListBox1), QStringList{"1) 10, 20   110, 20"});
        QCOMPARE(Form9->ListBox2->count(), 1);
        QVERIFY(!Form9->Button2->isEnabled());
    }

    void copiesAppendBothWaysAndApplyUpdatesTheMainWindow() {
        SetLines(Side::Source, {kA, kB});
        SetLines(Side::Target, {kC});
        Form1->Properties2->trigger();
        Click(Form9->ListBox1, 1);
        QTest::mouseClick(Form9->Button1, Qt::LeftButton);
        QCOMPARE(Texts(Form9->ListBox2),
                 (QStringList{"1) 10, 60   110, 60", "2) 10, 40   110, 40"}));
        QCOMPARE(Form9->ListBox1->count(), 2);
        QVERIFY(Form9->ListBox1->item(1)->isSelected());
        Click(Form9->ListBox2, 0);
        QTest::mouseClick(Form9->Button2, Qt::LeftButton);
        QCOMPARE(Form9->ListBox1->item(2)->text(), QString("3) 10, 60   110, 60"));

        QTest::mouseClick(Form9->Button5, Qt::LeftButton);
        QVERIFY(Form9->isVisible());
        QCOMPARE(Form1->SourceLineCount, 3);
        QCOMPARE(Form1->TargetLineCount, 2);
        QCOMPARE(Form1->SourceLines[2], kC);
        QCOMPARE(Form1->TargetLines[1], kB);
        QCOMPARE(Form1->Panel1->text(), QString("3 of 100 Maximum"));
        QCOMPARE(Form1->Panel2->text(), QString("2 of 100 Maximum"));
        QCOMPARE(Texts(Form2->ComboBox1), Expected(3));
        QCOMPARE(Texts(Form2->ComboBox2), Expected(2));
        // The hidden floating window and the main picture show the new line in its colour.
        QCOMPARE(Form7->Image1->bitmap().pixel(30, 40), LineColour(1));
        QCOMPARE(Form7->Image1->bitmap().pixel(30, 50), kWhite);
        QCOMPARE(Form1->Image2->bitmap().pixel(30, 40), LineColour(1));
        QCOMPARE(Form1->Image1->bitmap().pixel(30, 60), LineColour(2));
    }

    void deleteRemovesTheSelectedEntriesOfBothLists() {
        SetLines(Side::Source, {kA, kB, kC});
        SetLines(Side::Target, {kA, kB});
        Form2->AddLineEntry(Side::Source, 9); // an entry no line stands for
        Form2->ComboBox1->setCurrentIndex(2);
        Form2->ComboBox1Change();
        Form1->Properties2->trigger();
        Click(Form9->ListBox1, 0);
        Click(Form9->ListBox1, 1, Qt::ControlModifier);
        Click(Form9->ListBox2, 1);
        QTest::mouseClick(Form9->Button3, Qt::LeftButton);
        QCOMPARE(Texts(Form9->ListBox1), QStringList{"3) 10, 60   110, 60"});
        QCOMPARE(Texts(Form9->ListBox2), QStringList{"1) 10, 20   110, 20"});
        QCOMPARE(Form9->SourceCount, 1);

        QTest::mouseClick(Form9->Button6, Qt::LeftButton);
        QVERIFY(!Form9->isVisible());
        QCOMPARE(Form1->SourceLineCount, 1);
        QCOMPARE(Form1->SourceLines[0], kC);
        QCOMPARE(Form1->SourceLines[1], ControlLine{});
        QCOMPARE(Form1->TargetLineCount, 1);
        QCOMPARE(Form1->Panel1->text(), QString("1 of 100 Maximum"));
        QCOMPARE(Texts(Form2->ComboBox1), Expected(1));
        QCOMPARE(Texts(Form2->ListBox1), QStringList{"#:1"});
    }

    void nothingSelectedChangesNothingAndEmptyListsClearBothSides() {
        SetLines(Side::Source, {kA});
        SetLines(Side::Target, {kB});
        Form1->Properties2->trigger();
        Click(Form9->ListBox1, 0);
        Click(Form9->ListBox1, 0, Qt::ControlModifier); // deselects, the caret stays
        for (QPushButton* b : {Form9->Button1, Form9->Button2, Form9->Button3}) {
            QTest::mouseClick(b, Qt::LeftButton);
        }
        QCOMPARE(Form9->ListBox1->count(), 1);
        QCOMPARE(Form9->ListBox2->count(), 1);

        Click(Form9->ListBox1, 0);
        Click(Form9->ListBox2, 0);
        QTest::mouseClick(Form9->Button3, Qt::LeftButton);
        QTest::mouseClick(Form9->Button5, Qt::LeftButton);
        QCOMPARE(Form1->SourceLineCount + Form1->TargetLineCount, 0);
        QCOMPARE(Form1->Panel2->text(), QString("0 of 100 Maximum"));
        QCOMPARE(Texts(Form2->ComboBox1), Expected(0));
        QCOMPARE(Texts(Form2->ComboBox2), Expected(0));
        QCOMPARE(Form6->Image1->bitmap().pixel(30, 20), kWhite);
        QCOMPARE(Form1->Image1->bitmap(), Form1->CleanSourceBitmap);
        QCOMPARE(Form1->Image2->bitmap(), Form1->CleanTargetBitmap);
    }

    void copyingStopsAtTheMaximum() {
        SetLines(Side::Source, {kA, kB, kC});
        SetLines(Side::Target, std::vector<ControlLine>(99, kC));
        Form1->Properties2->trigger();
        Click(Form9->ListBox1, 0);
        Click(Form9->ListBox1, 2, Qt::ShiftModifier);
        QCOMPARE(Form9->ListBox1->selectedItems().size(), 3);
        QTest::mouseClick(Form9->Button1, Qt::LeftButton);
        QCOMPARE(Form9->ListBox2->count(), 100);
        QCOMPARE(Form9->ListBox2->item(99)->text(), QString("100) 10, 20   110, 20"));
        QCOMPARE(dialogs->boxes.size(), std::size_t(1));
        QCOMPARE(dialogs->boxes[0].caption, QString("Information"));
        QCOMPARE(dialogs->boxes[0].text,
                 QString(" The Target already has 100 Lines, the Maximum!"));
        QTest::mouseClick(Form9->Button1, Qt::LeftButton);
        QCOMPARE(Form9->ListBox2->count(), 100);
        QCOMPARE(dialogs->boxes.size(), std::size_t(2));

        QTest::mouseClick(Form9->Button5, Qt::LeftButton);
        QCOMPARE(Form1->TargetLineCount, 100);
        QCOMPARE(Form1->TargetLines[99], kA);
        QCOMPARE(Form1->TargetLines[100], ControlLine{});
        QCOMPARE(Form1->Panel2->text(), QString("100 of 100 Maximum"));
        QCOMPARE(Texts(Form2->ComboBox2), Expected(100));
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::LinePropertiesWindowTest>(argc, argv, morph::dialogs);
}

#include "LinePropertiesWindowTest.moc"
