// Drives View > Line Influence: it waits for a warped build, opens the window, which shows the
// engine's pictures of the chosen frame from what the build read, waits while a build runs,
// and shows a fault in the error box.
#include "views/LineInfluenceWindow.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "engine/Interpolation.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"
#include "support/WindowTesting.h"
#include "views/InterpolatedLinesWindow.h"
#include "views/ProgressWindow.h"
#include "views/PropertiesWindow.h"

#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QTest>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

constexpr int kFrames = 4;
const LineSet kSource{{{5, 5, 30, 8}, {10, 30, 40, 20}}};
const LineSet kTarget{{{8, 4, 36, 12}, {6, 25, 42, 30}}};

Bitmap Picture(int seed) {
    Bitmap b(48, 40);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 48; ++x) {
            b.setPixel(x, y,
                       RGB(std::uint8_t(5 * x + seed), std::uint8_t(6 * y), std::uint8_t(x * y)));
        }
    }
    return b;
}

// Whether the window shows the engine's pictures of frame k, t summed as the build sums it.
bool ShowsFrame(int k, const WarpOptions& options, WarpConstants constants) {
    const double step = FrameStep(kFrames);
    const FrameLineSets lines = BuildFrameLineSets(kSource, kTarget, step, 2,
                                                   InterpolationMode::EndPoints, kFrames, 48, 40);
    double t = 0;
    for (int i = 0; i < k; ++i) {
        t = t + step;
    }
    const Bitmap source = Picture(0);
    const Bitmap target = Picture(90);
    const InfluencePictures expected = LineInfluence(
        {source, target, lines.front(), lines.back(), lines[std::size_t(k)], 2, t, options},
        constants);
    const LineInfluenceWindow* window = Form1->LineInfluenceForm;
    return window->SpinEdit1->value() == k && window->Image1->bitmap() == expected.influence &&
           window->Image2->bitmap() == expected.displacement;
}

void BuildLinesThenWarped() {
    Form1->Bui1->trigger();
    Form3->hide();
    Form1->WarpedImages1->trigger();
}

} // namespace

class LineInfluenceWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        Form1->Image1->setPicture(Picture(0));
        Form1->MyFormCreate(2);
        Form1->Image2->setPicture(Picture(90));
        Form1->MyFormCreate(1);
        Form1->SourceLines = kSource;
        Form1->SourceLineCount = 2;
        Form1->TargetLines = kTarget;
        Form1->TargetLineCount = 2;
        Form2->Edit4->setText(QString::number(kFrames));
        Form2->Edit7->setText("7");
    }
    void cleanup() { QCOMPARE(dialogs->unexpected, 0); }

    // Runs first. The item ends View, enabled only after a warped build; the window shows
    // the chosen frame from what the build read, whatever changes later, and waits during a
    // build, after which it shows the new build.
    void showsTheChosenFrameOfTheLastWarpedBuild() {
        QStringList items;
        for (const QAction* action : Form1->Target1->actions()) {
            items << (action->isSeparator() ? QString("-") : action->text());
        }
        QCOMPARE(items.mid(5), (QStringList{"Refresh", "-", "Line Influence"}));
        QVERIFY(!Form1->LineInfluence1->isEnabled());
        Form1->Bui1->trigger();
        QVERIFY(!Form1->LineInfluence1->isEnabled());

        const WarpOptions options{WarpDistance::Segment, WarpSampling::Bilinear, 2};
        Form2->Edit1->setText("1.5");
        Form1->WarpChoices = options;
        BuildLinesThenWarped();
        QVERIFY(Form1->LineInfluence1->isEnabled());
        Form1->LineInfluence1->trigger();
        LineInfluenceWindow* window = Form1->LineInfluenceForm;
        QVERIFY(window->isVisible());
        QCOMPARE(window->SpinEdit1->maximum(), kFrames - 1);
        QVERIFY(ShowsFrame(0, options, {1.5, 1, 0}));
        Form2->Edit1->setText("2");
        Form1->WarpChoices = {};
        Form1->SourceLines[0] = {1, 1, 2, 30};
        QTest::keyClick(window->SpinEdit1, Qt::Key_Up);
        QVERIFY(ShowsFrame(1, options, {1.5, 1, 0}));
        window->SpinEdit1->setValue(3);
        QVERIFY(ShowsFrame(3, options, {1.5, 1, 0}));
        QVERIFY(!ShowsFrame(3, {}, {}));
        Form1->SourceLines = kSource;

        Form1->Bui1->trigger();
        Form3->hide();
        const Bitmap before = window->Image1->bitmap();
        bool sawBuild = false;
        bool waited = true;
        test::During([] { Form1->WarpedImages1->trigger(); },
                     [&] {
                         if (Form4->isVisible()) {
                             sawBuild = true;
                             waited = waited && !Form1->LineInfluence1->isEnabled() &&
                                      !window->isEnabled();
                             Form1->LineInfluence1Click(); // reached all the same, neither computes
                             window->SpinEdit1Change(1);
                             waited = waited && window->Image1->bitmap() == before;
                         }
                     });
        QVERIFY(sawBuild && waited);
        QVERIFY(Form1->LineInfluence1->isEnabled() && window->isEnabled());
        QVERIFY(ShowsFrame(3, {}, {}));
        QVERIFY(dialogs->boxes.empty());
    }

    // A fault of the influence is the warp's, shown in the error box, with no picture left on
    // show. A = 0 and a pixel on a line divide by zero: a build after a good one stops at frame
    // 0, the menus keep their state, and the item shows that frame.
    void faultIsShownInTheErrorBox() {
        Form1->SourceLines[0] = {5, 5, 30, 5};
        Form1->TargetLines[0] = {5, 5, 30, 5};
        BuildLinesThenWarped();
        Form2->Edit1->setText("0");
        Form1->WarpedImages1->trigger();
        QCOMPARE(dialogs->boxes.size(), size_t(1));
        QCOMPARE(dialogs->boxes[0].kind, BoxKind::ApplicationError);
        Form4->hide();
        Form1->LineInfluence1->trigger();
        QCOMPARE(dialogs->boxes.size(), size_t(2));
        QCOMPARE(dialogs->boxes[1].kind, BoxKind::ApplicationError);
        QCOMPARE(dialogs->boxes[1].text, dialogs->boxes[0].text);
        QCOMPARE(Form1->LineInfluenceForm->SpinEdit1->maximum(), 0);
        QVERIFY(Form1->LineInfluenceForm->Image1->bitmap() == Bitmap(48, 40));
        QVERIFY(Form1->LineInfluenceForm->Image2->bitmap() == Bitmap(48, 40));
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::LineInfluenceWindowTest>(argc, argv, morph::dialogs);
}

#include "LineInfluenceWindowTest.moc"
