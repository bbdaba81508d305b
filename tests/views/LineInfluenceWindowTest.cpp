// Drives View > Line Influence: it waits for a warped build, opens the window, which shows the
// engine's line influence pictures of the chosen frame from what the build read, waits while a
// build runs, and shows a fault in the error box.
#include "views/LineInfluenceWindow.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "engine/Influence.h"
#include "engine/Interpolation.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"
#include "views/InterpolatedLinesWindow.h"
#include "views/ProgressWindow.h"
#include "views/PropertiesWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

constexpr int kWidth = 48;
constexpr int kHeight = 40;
constexpr int kFrames = 4;

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

// The engine's pictures of frame k of a build of kFrames frames from the pictures and lines
// above, t summed as the build sums it.
InfluencePictures Expected(int k, const WarpOptions& options, WarpConstants constants) {
    const double step = FrameStep(kFrames);
    const FrameLineSets lines = BuildFrameLineSets(
        kSource, kTarget, step, 2, InterpolationMode::EndPoints, kFrames, kWidth, kHeight);
    double t = 0;
    for (int i = 0; i < k; ++i) {
        t = t + step;
    }
    const Bitmap source = Picture(true);
    const Bitmap target = Picture(false);
    return LineInfluence(
        {source, target, lines.front(), lines.back(), lines[std::size_t(k)], 2, t, options},
        constants);
}

bool Shows(const InfluencePictures& expected) {
    const LineInfluenceWindow* window = Form1->LineInfluenceForm;
    return window->Image1->bitmap() == expected.influence &&
           window->Image2->bitmap() == expected.displacement;
}

void GivePicturesAndLines() {
    Form1->Image1->setPicture(Picture(true));
    Form1->MyFormCreate(2);
    Form1->Image2->setPicture(Picture(false));
    Form1->MyFormCreate(1);
    Form1->SourceLines = kSource;
    Form1->SourceLineCount = 2;
    Form1->TargetLines = kTarget;
    Form1->TargetLineCount = 2;
}

void BuildWarped() {
    Form1->Bui1->trigger();
    Form3->hide();
    Form1->WarpedImages1->trigger();
}

// Runs `step` whenever the warped build lets the event loop run.
void During(const std::function<void()>& build, const std::function<void()>& step) {
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, step);
    timer.start(0);
    build();
    timer.stop();
}

} // namespace

class LineInfluenceWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        GivePicturesAndLines();
        Form2->Edit4->setText(QString::number(kFrames));
        Form2->Edit7->setText("7");
    }
    void init() { dialogs->clear(); }
    void cleanup() { QCOMPARE(dialogs->unexpected, 0); }

    // Runs first: the item ends View after a separator and needs a warped build; a lines
    // build is not enough, and nor is a later lines build after a warped one.
    void itemWaitsForAWarpedBuild() {
        QStringList items;
        for (const QAction* action : Form1->Target1->actions()) {
            items << (action->isSeparator() ? QString("-") : action->text());
        }
        QCOMPARE(items, (QStringList{"Interpolated Lines", "Warped Images", "-",
                                     "Properties Window", "-", "Refresh", "-", "Line Influence"}));
        QVERIFY(!Form1->LineInfluence1->isEnabled());
        Form1->Bui1->trigger();
        Form3->hide();
        QVERIFY(!Form1->LineInfluence1->isEnabled());
        Form1->LineInfluence1Click(); // reached all the same, it opens nothing
        QVERIFY(!Form1->LineInfluenceForm->isVisible());
        Form1->WarpedImages1->trigger();
        QVERIFY(Form1->LineInfluence1->isEnabled());
        Form1->Bui1->trigger();
        Form3->hide();
        QVERIFY(!Form1->LineInfluence1->isEnabled());
        QVERIFY(dialogs->boxes.empty());
    }

    // The window shows the chosen frame's pictures, computed from what the build read: the
    // pictures, lines, constants and options changed afterwards do not count.
    void windowShowsTheChosenFrame() {
        const WarpOptions options{WarpDistance::Segment, WarpSampling::Bilinear, 2};
        const WarpConstants constants{1.5, 1.25, 0.5};
        Form2->Edit1->setText("1.5");
        Form2->Edit2->setText("1.25");
        Form2->Edit3->setText("0.5");
        Form1->WarpChoices = options;
        BuildWarped();
        QVERIFY(dialogs->boxes.empty());
        QVERIFY(Form1->LineInfluence1->isEnabled());

        Form1->LineInfluence1->trigger();
        LineInfluenceWindow* window = Form1->LineInfluenceForm;
        QVERIFY(window->isVisible());
        QCOMPARE(window->windowTitle(), QString("Line Influence"));
        QCOMPARE(window->Label2->text(), QString("Strongest line"));
        QCOMPARE(window->Label3->text(), QString("Displacement"));
        QCOMPARE(window->SpinEdit1->minimum(), 0);
        QCOMPARE(window->SpinEdit1->maximum(), kFrames - 1);
        QCOMPARE(window->SpinEdit1->value(), 0);
        QVERIFY(Shows(Expected(0, options, constants)));
        // Side by side, below their captions, at the picture's size.
        QCOMPARE(window->Image1->size(), QSize(kWidth, kHeight));
        QVERIFY(window->Image2->x() >= window->Image1->geometry().right());
        QVERIFY(window->Label3->x() == window->Image2->x());

        // Whatever changes after the build, the frames are the build's.
        Form2->Edit1->setText("4");
        Form1->WarpChoices = {};
        Form1->SourceLines[0] = {1, 1, 2, 30};
        QTest::keyClick(window->SpinEdit1, Qt::Key_Up);
        QCOMPARE(window->SpinEdit1->value(), 1);
        QVERIFY(Shows(Expected(1, options, constants)));
        QVERIFY(!Shows(Expected(0, options, constants)));
        for (int k = kFrames - 1; k >= 0; --k) {
            window->SpinEdit1->setValue(k);
            QVERIFY2(Shows(Expected(k, options, constants)), qPrintable(QString::number(k)));
        }
        QVERIFY(dialogs->boxes.empty());
        Form2->Edit1->setText("2");
        Form2->Edit2->setText("1");
        Form2->Edit3->setText("0");
        Form1->SourceLines = kSource;
    }

    // While a build runs the item and the window wait; after it the open window shows the new
    // build's frame.
    void itemAndWindowWaitDuringABuild() {
        LineInfluenceWindow* window = Form1->LineInfluenceForm;
        window->SpinEdit1->setValue(2);
        Form1->Bui1->trigger();
        Form3->hide();
        const Bitmap before = window->Image1->bitmap();
        bool sawBuild = false;
        bool enabledDuring = false;
        bool changedDuring = false;
        During([] { Form1->WarpedImages1->trigger(); },
               [&] {
                   if (!Form4->isVisible()) {
                       return;
                   }
                   sawBuild = true;
                   enabledDuring =
                       enabledDuring || Form1->LineInfluence1->isEnabled() || window->isEnabled();
                   // Reached all the same, neither computes.
                   Form1->LineInfluence1Click();
                   window->SpinEdit1Change(1);
                   changedDuring = changedDuring || window->Image1->bitmap() != before;
               });
        QVERIFY(dialogs->boxes.empty());
        QVERIFY(sawBuild);
        QVERIFY(!enabledDuring);
        QVERIFY(!changedDuring);
        QVERIFY(Form1->LineInfluence1->isEnabled() && window->isEnabled());
        QVERIFY(window->isVisible());
        QCOMPARE(window->SpinEdit1->value(), 2);
        QVERIFY(Shows(Expected(2, {}, {})));
    }

    // A fault of the influence is the warp's, shown in the error box; the program goes on.
    void faultIsShownInTheErrorBox() {
        // A = 0 and a pixel on a line: the weight divides by zero. A build after a good one
        // stops at frame 0 with the fault; the menus keep their state, and the item shows that
        // frame.
        Form1->SourceLines[0] = {5, 5, 30, 5};
        Form1->TargetLines[0] = {5, 5, 30, 5};
        BuildWarped();
        QVERIFY(dialogs->boxes.empty());
        Form2->Edit1->setText("0");
        Form1->WarpedImages1->trigger();
        QCOMPARE(dialogs->boxes.size(), size_t(1));
        const test::ShownBox fault = dialogs->boxes[0];
        QCOMPARE(fault.kind, BoxKind::ApplicationError);
        dialogs->boxes.clear();
        Form4->hide();
        QVERIFY(Form1->LineInfluence1->isEnabled());

        Form1->LineInfluence1->trigger();
        QCOMPARE(dialogs->boxes.size(), size_t(1));
        QCOMPARE(dialogs->boxes[0].kind, fault.kind);
        QCOMPARE(dialogs->boxes[0].text, fault.text);
        LineInfluenceWindow* window = Form1->LineInfluenceForm;
        QVERIFY(window->isVisible());
        QCOMPARE(window->SpinEdit1->maximum(), 0);
        // No picture of another build or frame stays on show.
        QVERIFY(window->Image1->bitmap() == Bitmap(kWidth, kHeight));
        QVERIFY(window->Image2->bitmap() == Bitmap(kWidth, kHeight));
        Form2->Edit1->setText("2");
        Form1->SourceLines = kSource;
        Form1->TargetLines = kTarget;
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::LineInfluenceWindowTest>(argc, argv, morph::dialogs);
}

#include "LineInfluenceWindowTest.moc"
