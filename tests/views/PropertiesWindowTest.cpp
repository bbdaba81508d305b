// Drives the Properties window of a running program: start values, the frame-count arrows,
// the side information lists and their line entries.
#include "views/PropertiesWindow.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "platform/MorphError.h"
#include "platform/gui/Application.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void PressUp() {
    QTest::mouseClick(Form2->UpDown1->upButton(), Qt::LeftButton);
}
void PressDown() {
    QTest::mouseClick(Form2->UpDown1->downButton(), Qt::LeftButton);
}

// Picks an entry with the keyboard, as a user stepping through the list does.
void Pick(QComboBox* combo, int index) {
    for (int guard = 0; combo->currentIndex() < index && guard <= combo->count(); ++guard) {
        QTest::keyClick(combo, Qt::Key_Down);
    }
    for (int guard = 0; combo->currentIndex() > index && guard <= combo->count(); ++guard) {
        QTest::keyClick(combo, Qt::Key_Up);
    }
}

QStringList Entries(const QComboBox* combo) {
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) {
        entries << combo->itemText(i);
    }
    return entries;
}

QStringList Shown(const QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) {
        lines << list->item(i)->text();
    }
    return lines;
}

const QStringList kFixedEntries{"Maximum Size", "Image Size", "Number of Lines"};

} // namespace

class PropertiesWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { dialogs->clear(); }
    void cleanup() { QCOMPARE(dialogs->unexpected, 0); }

    // Runs first: the arrows' own position has never moved yet.
    void lowerArrowRightAfterStartUpDoesNothing() {
        QCOMPARE(Form2->UpDown1->position(), 0);
        PressDown();
        QCOMPARE(Form2->Edit4->text(), QString("2"));
        // Whatever the field holds: no conversion is even attempted.
        Type(Form2->Edit4, "abc");
        PressDown();
        QCOMPARE(Form2->Edit4->text(), QString("abc"));
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(Form2->UpDown1->position(), 0);
        Form2->ResetProperties();
    }

    void startUpValues() {
        QVERIFY(Form2->isVisible());
        QCOMPARE(Form2->windowTitle(), QString("Properties"));
        QCOMPARE(Form2->size(), QSize(156, 492));
        QCOMPARE(Form2->minimumSize(), Form2->maximumSize());
        QCOMPARE(Form2->pos(), QPoint(741, 111));
        QVERIFY(!(Form2->windowFlags() & Qt::WindowCloseButtonHint));

        QCOMPARE(Form2->Edit1->text(), QString("2"));
        QCOMPARE(Form2->Edit2->text(), QString("1"));
        QCOMPARE(Form2->Edit3->text(), QString("0"));
        QCOMPARE(Form2->Edit4->text(), QString("2"));
        QCOMPARE(Form2->Edit7->text(), QString("20"));
        QVERIFY(Form2->RadioButton1->isChecked());
        QVERIFY(!Form2->RadioButton2->isChecked());
        QVERIFY(Form2->RadioButton3->isChecked());
        QVERIFY(!Form2->RadioButton4->isChecked());
        QVERIFY(Form2->CheckBox1->isChecked());

        QCOMPARE(Form2->ComboBox1->currentText(), QString(" Source Properties"));
        QCOMPARE(Form2->ComboBox2->currentText(), QString(" Target Properties"));
        QCOMPARE(Form2->ComboBox1->currentIndex(), -1);
        QCOMPARE(Entries(Form2->ComboBox1), kFixedEntries);
        QCOMPARE(Entries(Form2->ComboBox2), kFixedEntries);
        QCOMPARE(Form2->ListBox1->count(), 0);
        QCOMPARE(Form2->ListBox2->count(), 0);
    }

    void captionsFitTheirControls() {
        QCOMPARE(Form2->RadioButton2->text(), QString("Middle Points && Angle "));
        for (auto* name : {"Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "Label7",
                           "Label8", "Label9", "RadioButton1", "RadioButton2", "RadioButton3",
                           "RadioButton4", "CheckBox1"}) {
            auto* widget = Form2->findChild<QWidget*>(name);
            QVERIFY2(widget, name);
            QVERIFY2(widget->sizeHint().width() <= widget->width(), name);
            QVERIFY2(Form2->rect().contains(widget->mapTo(Form2, widget->rect().bottomRight())),
                     name);
        }
        for (auto* box : Form2->findChildren<QGroupBox*>()) {
            QVERIFY(box->font().bold());
            QVERIFY(box->fontMetrics().horizontalAdvance(box->title()) < box->width());
            QVERIFY(!box->findChild<QWidget*>()->font().bold());
        }
        QVERIFY(Form2->Label2->font().bold());
        QVERIFY(!Form2->Edit1->font().bold());
    }

    // Each reader converts its own control's text as it stands now.
    void readersTakeTheCurrentText() {
        Type(Form2->Edit1, "3.5");
        Type(Form2->Edit2, "0.5");
        Type(Form2->Edit3, "0.25");
        Type(Form2->Edit4, " 12");
        Type(Form2->Edit7, "2x");
        Form2->RadioButton2->click();
        QCOMPARE(Form2->ConstantA(), 3.5);
        QCOMPARE(Form2->ConstantB(), 0.5);
        QCOMPARE(Form2->ConstantP(), 0.25);
        QCOMPARE(Form2->Frames(), 12);
        QVERIFY(!Form2->EndPointsMode());
        QVERIFY_THROWS_EXCEPTION(MorphError, (void)Form2->RefreshRate());
        QCOMPARE(Form2->Edit7->text(), QString("2x"));
    }

    // Every show brings the start values back; the arrows keep their position.
    void showResetsSettingsButNotTheArrows() {
        PressUp();
        const int position = Form2->UpDown1->position();
        Type(Form2->Edit2, "7");
        Form2->RadioButton4->click();
        Form2->CheckBox1->click();
        Form2->AddLineEntry(Side::Source, 1);
        Form2->hide();
        Form2->show();
        QCOMPARE(Form2->Edit2->text(), QString("1"));
        QCOMPARE(Form2->Edit4->text(), QString("2"));
        QVERIFY(Form2->RadioButton3->isChecked());
        QVERIFY(Form2->CheckBox1->isChecked());
        QCOMPARE(Entries(Form2->ComboBox1), kFixedEntries);
        QCOMPARE(Form2->UpDown1->position(), position);

        // The user cannot close it; the program can, or it could never end.
        QCloseEvent byUser;
        QSpontaneKeyEvent::setSpontaneous(&byUser);
        qApp->notify(Form2, &byUser); // as the window system delivers it
        QVERIFY(!byUser.isAccepted());
        QVERIFY(Form2->isVisible());
        QVERIFY(Form2->close());
        Form2->show();
    }

    void arrowsStepTheFrameCount() {
        Type(Form2->Edit4, "7");
        PressUp();
        QCOMPARE(Form2->Edit4->text(), QString("8"));

        PressUp();
        Type(Form2->Edit4, "2");
        const int position = Form2->UpDown1->position();
        PressDown();
        QCOMPARE(Form2->Edit4->text(), QString("2"));
        QCOMPARE(Form2->UpDown1->position(), position - 1); // the floor holds, the arrows move

        Type(Form2->Edit4, "0");
        PressUp();
        QCOMPARE(Form2->Edit4->text(), QString("2"));
        Type(Form2->Edit4, "-5");
        PressDown();
        QCOMPARE(Form2->Edit4->text(), QString("2"));
        QVERIFY(dialogs->boxes.empty());
    }

    void lettersInTheFrameCountShowTheErrorAndStay() {
        PressUp();
        Type(Form2->Edit4, "abc");
        PressUp();
        QCOMPARE(Form2->Edit4->text(), QString("abc"));
        QCOMPARE(dialogs->boxes.size(), size_t(1));
        QCOMPARE(dialogs->boxes[0].kind, BoxKind::ApplicationError);
        QCOMPARE(dialogs->boxes[0].caption, QString("Morphing"));
        QCOMPARE(dialogs->boxes[0].text, QString("'abc' is not a valid integer value."));

        PressDown();
        QCOMPARE(Form2->Edit4->text(), QString("abc"));
        QCOMPARE(dialogs->boxes.size(), size_t(2));
        // The program goes on: the next press with a number steps again.
        Type(Form2->Edit4, "4");
        PressUp();
        QCOMPARE(Form2->Edit4->text(), QString("5"));
    }

    void upperArrowStopsAfterAHundredNetPresses() {
        while (Form2->UpDown1->position() < 100) {
            PressUp();
        }
        Type(Form2->Edit4, "5");
        PressUp();
        QCOMPARE(Form2->Edit4->text(), QString("5"));
        QCOMPARE(Form2->UpDown1->position(), 100);
        PressDown();
        QCOMPARE(Form2->Edit4->text(), QString("4"));
        QCOMPARE(Form2->UpDown1->position(), 99);
        QVERIFY(dialogs->boxes.empty());
    }

    void sizeAndCountEntries() {
        Form2->ResetProperties();
        Pick(Form2->ComboBox1, 0);
        QCOMPARE(Shown(Form2->ListBox1), QStringList{"MxH:337 MxW:417"});
        Pick(Form2->ComboBox2, 0);
        QCOMPARE(Shown(Form2->ListBox2), QStringList{"MxH:337 MxW:417"});
        Pick(Form2->ComboBox1, 2);
        QCOMPARE(Shown(Form2->ListBox1), QStringList{"#:0"});

        // Each side reads its own picture.
        PictureBox* image = Form1->Image2;
        const Bitmap before = image->bitmap();
        const QSize beforeSize = image->size();
        image->setPicture(Bitmap(30, 20));
        Pick(Form2->ComboBox2, 1);
        QCOMPARE(Shown(Form2->ListBox2), QStringList{"H:20 W:30"});
        Pick(Form2->ComboBox1, 1);
        QCOMPARE(
            Shown(Form2->ListBox1),
            QStringList{
                QString("H:%1 W:%2").arg(Form1->Image1->height()).arg(Form1->Image1->width())});
        image->setPicture(before);
        image->resize(beforeSize);

        // Typing instead of picking empties the list.
        QTest::keyClicks(Form2->ComboBox1->lineEdit(), "x");
        QCOMPARE(Form2->ListBox1->count(), 0);
        QCOMPARE(Entries(Form2->ComboBox1), kFixedEntries);
    }

    void lineEntries() {
        Form2->ResetProperties();
        Form1->SourceLines[0] = {10, 20, 110, 95};
        Form1->SourceLines[1] = {1, 2, 3, 4};
        Form1->SourceLineCount = 1;
        Form2->AddLineEntry(Side::Source, 1);
        Form2->AddLineEntry(Side::Source, 2); // an entry whose line is not (or no longer) there
        QCOMPARE(Entries(Form2->ComboBox1), (kFixedEntries + QStringList{"Line 1", "Line 2"}));
        QCOMPARE(Form2->ComboBox1->currentText(), QString(" Source Properties"));

        Pick(Form2->ComboBox1, 3);
        QCOMPARE(Shown(Form2->ListBox1), QStringList{"10, 20  110, 95"});
        Pick(Form2->ComboBox1, 4);
        QCOMPARE(Form2->ListBox1->count(), 0);
        Pick(Form2->ComboBox1, 2);
        QCOMPARE(Shown(Form2->ListBox1), QStringList{"#:1"});

        // Clearing with a line entry picked empties the list; the fixed entries stay.
        Pick(Form2->ComboBox1, 3);
        Form2->AddLineEntry(Side::Target, 1);
        Form2->RemoveLineEntries(Side::Source, 2);
        QCOMPARE(Entries(Form2->ComboBox1), kFixedEntries);
        QCOMPARE(Form2->ListBox1->count(), 0);
        QCOMPARE(Form2->ComboBox1->currentText(), QString(" Source Properties"));
        QCOMPARE(Entries(Form2->ComboBox2), kFixedEntries + QStringList{"Line 1"});

        // Positions past the last entry are skipped; a fixed entry picked keeps its list.
        Pick(Form2->ComboBox2, 0);
        Form2->RemoveLineEntries(Side::Target, 5);
        QCOMPARE(Entries(Form2->ComboBox2), kFixedEntries);
        QCOMPARE(Shown(Form2->ListBox2), QStringList{"MxH:337 MxW:417"});
        Form2->RemoveLineEntries(Side::Target, 0);
        QCOMPARE(Entries(Form2->ComboBox2), kFixedEntries);

        Form1->SourceLines[0] = {};
        Form1->SourceLines[1] = {};
        Form1->SourceLineCount = 0;
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::PropertiesWindowTest>(argc, argv, morph::dialogs);
}

#include "PropertiesWindowTest.moc"
