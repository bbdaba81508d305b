// Drives Build > Warp Options...: the dialog's choices reach the warped build, survive a morph
// file's save and open, show in Help > Info only when they are not the defaults, and wait for
// a warped build like the other build commands.
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "editor/WarpOptionsDialog.h"
#include "engine/FrameBuild.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"
#include "support/WindowTesting.h"
#include "views/InterpolatedLinesWindow.h"
#include "views/ProgressWindow.h"
#include "views/PropertiesWindow.h"

#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

constexpr int kWidth = 48;
constexpr int kHeight = 40;
const QString kInfo = " Frames:3  Sourse Lines:2  Target Lines:2";

Bitmap Picture(bool source) {
    Bitmap b(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            b.setPixel(x, y,
                       source ? RGB(std::uint8_t(5 * x), std::uint8_t(6 * y), std::uint8_t(x * y))
                              : RGB(std::uint8_t(255 - 5 * x), std::uint8_t(x ^ y), 90));
        }
    }
    return b;
}

LineSet Lines(std::initializer_list<ControlLine> lines) {
    LineSet set{};
    std::copy(lines.begin(), lines.end(), set.begin());
    return set;
}

const LineSet kSource = Lines({{5, 5, 30, 8}, {10, 30, 40, 20}});
const LineSet kTarget = Lines({{8, 4, 36, 12}, {6, 25, 42, 30}});

// Chooses in the dialog as a user does: the radio buttons clicked.
void Choose(WarpDistance distance, WarpSampling sampling, int supersample) {
    WarpOptionsDialog* dialog = Form1->WarpOptionsForm;
    (distance == WarpDistance::Line ? dialog->RadioButton1 : dialog->RadioButton2)->click();
    (sampling == WarpSampling::Nearest ? dialog->RadioButton3 : dialog->RadioButton4)->click();
    dialog->SpinEdit1->setValue(supersample);
}

using test::During;

QString Info() {
    dialogs->boxes.clear();
    Form1->Properties1->trigger();
    return dialogs->boxes.size() == 1 ? dialogs->boxes[0].text : QString("(no box)");
}

} // namespace

class WarpOptionsWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder_;

  private slots:
    void initTestCase() {
        Form1->Image1->setPicture(Picture(true));
        Form1->MyFormCreate(2);
        Form1->Image2->setPicture(Picture(false));
        Form1->MyFormCreate(1);
        Form1->SourceLines = kSource;
        Form1->SourceLineCount = 2;
        Form1->TargetLines = kTarget;
        Form1->TargetLineCount = 2;
        Form2->Edit4->setText("3");
        Form2->Edit7->setText("7");
    }
    void init() { dialogs->clear(); }
    void cleanup() { QCOMPARE(dialogs->unexpected, 0); }

    // Runs first: the defaults, then Cancel keeps them and Ok takes the choices.
    void dialogTakesTheChoicesOnOkOnly() {
        QStringList items;
        for (const QAction* action : Form1->Morphing1->actions()) {
            items << (action->isSeparator() ? QString("-") : action->text());
        }
        QCOMPARE(items,
                 (QStringList{"Interpolated Lines", "Warped Images", "-", "Warp Options..."}));
        QCOMPARE(Info(), kInfo);

        WarpOptionsDialog* dialog = Form1->WarpOptionsForm;
        QVERIFY(!dialog->isVisible());
        Form1->WarpOptions1->trigger();
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QString("Warp Options"));
        QVERIFY(dialog->RadioButton1->isChecked() && dialog->RadioButton3->isChecked());
        QCOMPARE(dialog->SpinEdit1->value(), 1);
        QCOMPARE(dialog->SpinEdit1->maximum(), 4);
        Choose(WarpDistance::Segment, WarpSampling::Bilinear, 3);
        QTest::mouseClick(dialog->Button2, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(Form1->WarpChoices, WarpOptions{});
        QCOMPARE(Info(), kInfo);

        // Opened again, it shows the choices in use, not the cancelled ones.
        Form1->WarpOptions1->trigger();
        QVERIFY(dialog->RadioButton1->isChecked() && dialog->RadioButton3->isChecked());
        QCOMPARE(dialog->SpinEdit1->value(), 1);
        Choose(WarpDistance::Line, WarpSampling::Bilinear, 2);
        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(Form1->WarpChoices, (WarpOptions{WarpDistance::Line, WarpSampling::Bilinear, 2}));
        QCOMPARE(Info(),
                 kInfo + "\n Warp Options: distance line, sampling bilinear, supersample 2");

        // Back to the defaults: Info is as before.
        Form1->WarpOptions1->trigger();
        Choose(WarpDistance::Line, WarpSampling::Nearest, 1);
        QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        QCOMPARE(Form1->WarpChoices, WarpOptions{});
        QCOMPARE(Info(), kInfo);
    }

    // Each choice reaches the warped build: its frames are the engine's with those options,
    // and the dialog and its item wait while the build runs.
    void warpedBuildUsesTheChoices() {
        const WarpOptions cases[] = {
            {},
            {WarpDistance::Segment, WarpSampling::Nearest, 1},
            {WarpDistance::Line, WarpSampling::Bilinear, 1},
            {WarpDistance::Segment, WarpSampling::Bilinear, 2},
            {WarpDistance::Line, WarpSampling::Nearest, 4},
        };
        for (const WarpOptions& options : cases) {
            Form1->WarpOptions1->trigger();
            Choose(options.distance, options.sampling, options.supersample);
            QTest::mouseClick(Form1->WarpOptionsForm->Button1, Qt::LeftButton);
            QCOMPARE(Form1->WarpChoices, options);
            Form1->WarpOptions1->trigger(); // left open during the build

            Form1->Bui1->trigger();
            Form3->hide();
            bool sawBuild = false;
            bool enabledDuring = false;
            During([] { Form1->WarpedImages1->trigger(); },
                   [&] {
                       if (Form4->isVisible()) {
                           sawBuild = true;
                           enabledDuring = enabledDuring || Form1->WarpOptions1->isEnabled() ||
                                           Form1->WarpOptionsForm->isEnabled();
                       }
                   });
            QVERIFY(dialogs->boxes.empty());
            QVERIFY(sawBuild);
            QVERIFY(!enabledDuring);
            QVERIFY(Form1->WarpOptions1->isEnabled() && Form1->WarpOptionsForm->isEnabled());
            QVERIFY(Form1->WarpOptionsForm->isVisible());
            Form1->WarpOptionsForm->Button2->click();

            MorphSettings settings;
            settings.frames = 3;
            settings.keepWarped = true;
            settings.warpOptions = options;
            const Bitmap source = Picture(true);
            const Bitmap target = Picture(false);
            const MorphSequence engine =
                BuildMorph({source, target, kSource, 2, kTarget, 2}, settings);
            QVERIFY(Form1->MorphFrames[1]->bitmap() == engine.blends[1]);
            QVERIFY(Form1->WarpedSourceFrames[1]->bitmap() == engine.warpedSource[1]);
            QVERIFY(Form1->WarpedTargetFrames[1]->bitmap() == engine.warpedTarget[1]);
        }
        // The options change the frame (else the comparisons above would prove nothing).
        MorphSettings plain;
        plain.frames = 3;
        MorphSettings smooth = plain;
        smooth.warpOptions = {WarpDistance::Segment, WarpSampling::Bilinear, 2};
        const Bitmap source = Picture(true);
        const Bitmap target = Picture(false);
        QVERIFY(BuildMorph({source, target, kSource, 2, kTarget, 2}, plain).blends[1] !=
                BuildMorph({source, target, kSource, 2, kTarget, 2}, smooth).blends[1]);
    }

    // The choices are saved in the morph file (only those that differ from the defaults) and
    // opened back, into the dialog too; a file without them opens with the defaults.
    void choicesSurviveSaveAndOpen() {
        const QString smooth = folder_.filePath("smooth.morph");
        const QString plain = folder_.filePath("plain.morph");
        Form1->WarpOptions1->trigger();
        Choose(WarpDistance::Segment, WarpSampling::Nearest, 3);
        QTest::mouseClick(Form1->WarpOptionsForm->Button1, Qt::LeftButton);
        dialogs->files.push_back(smooth);
        Form1->SaveMorphAs1->trigger();
        QFile file(smooth);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(text.contains("\ndistance segment\n") && text.contains("\nsupersample 3\n") &&
                     !text.contains("sampling"),
                 qPrintable(text));

        Form1->WarpOptions1->trigger();
        Choose(WarpDistance::Line, WarpSampling::Nearest, 1);
        QTest::mouseClick(Form1->WarpOptionsForm->Button1, Qt::LeftButton);
        dialogs->files.push_back(plain);
        Form1->SaveMorphAs1->trigger();
        QFile plainFile(plain);
        QVERIFY(plainFile.open(QIODevice::ReadOnly));
        const QString plainText = QString::fromUtf8(plainFile.readAll());
        QVERIFY2(!plainText.contains("distance") && !plainText.contains("sampl"),
                 qPrintable(plainText));

        Form1->WarpOptions1->trigger(); // open while the file opens: it shows the file's choices
        dialogs->files.push_back(smooth);
        Form1->OpenMorph1->trigger();
        QVERIFY(dialogs->boxes.empty());
        const WarpOptions saved{WarpDistance::Segment, WarpSampling::Nearest, 3};
        QCOMPARE(Form1->WarpChoices, saved);
        QVERIFY(Form1->WarpOptionsForm->RadioButton2->isChecked());
        QCOMPARE(Form1->WarpOptionsForm->SpinEdit1->value(), 3);
        QTest::mouseClick(Form1->WarpOptionsForm->Button1, Qt::LeftButton);
        QCOMPARE(Form1->WarpChoices, saved);
        QCOMPARE(Info(), kInfo + "\n Warp Options: distance segment, sampling nearest, "
                                 "supersample 3");

        dialogs->boxes.clear();
        dialogs->files.push_back(plain);
        Form1->OpenMorph1->trigger();
        QCOMPARE(Form1->WarpChoices, WarpOptions{});
        QCOMPARE(Info(), kInfo);
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::WarpOptionsWindowTest>(argc, argv, morph::dialogs);
}

#include "WarpOptionsWindowTest.moc"
