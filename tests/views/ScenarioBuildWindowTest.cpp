// A warped build of the warp benchmark's scenario (two 512 x 512 pictures, 20 line pairs, 30
// frames) in the running program: the frames match the engine's, the blend picture keeps being
// repainted, the event loop keeps turning, and a Cancel click ends the build. The gaps between
// event-loop turns and the time from the click to the end of the build are reported.
#include "Scenario.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "engine/FrameBuild.h"
#include "platform/gui/Application.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"
#include "support/WindowTesting.h"
#include "views/ProgressWindow.h"
#include "views/PropertiesWindow.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

// Counts the paints of one widget.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    QWidget* watched = nullptr;

    bool eventFilter(QObject* object, QEvent* event) override {
        if (object == watched && event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

} // namespace

class ScenarioBuildWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir folder_;

    // Loads the scenario's pictures through the Load menu, gives both sides its lines and
    // builds the interpolated lines with the scenario's settings.
    void PrepareScenario() {
        const bench::Scenario& scenario = bench::TheScenario();
        dialogs->files.push_back(
            test::SavePicture(folder_.filePath("source.bmp"), scenario.source));
        Form1->Load1->trigger();
        dialogs->files.push_back(
            test::SavePicture(folder_.filePath("target.bmp"), scenario.target));
        Form1->Targe1->trigger();
        Form1->SourceLines = scenario.sourceLines;
        Form1->SourceLineCount = bench::kLines;
        Form1->TargetLines = scenario.targetLines;
        Form1->TargetLineCount = bench::kLines;
        Form2->Edit1->setText("2");
        Form2->Edit2->setText("1");
        Form2->Edit3->setText("0");
        Form2->Edit4->setText(QString::number(bench::kFrames));
        Form2->Edit7->setText("20");
        Form2->RadioButton1->setChecked(true);
        Form1->Bui1->trigger();
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(int(Form1->FrameLineSets.size()), bench::kFrames);
    }

  private slots:
    void init() { dialogs->clear(); }
    void cleanup() { QCOMPARE(dialogs->unexpected, 0); }

    void scenarioBuildRepaintsAndGivesTheEnginesFrames() {
        PrepareScenario();
        PaintCounter counter;
        qApp->installEventFilter(&counter);
        int turns = 0;
        qint64 longestGap = 0;
        QElapsedTimer clock;
        QElapsedTimer whole;
        qint64 total = 0;
        const auto build = [&] {
            whole.start();
            Form1->WarpedImages1->trigger();
            total = whole.elapsed();
        };
        test::During(build, [&] {
            if (counter.watched == nullptr && !Form1->MorphFrames.empty()) {
                counter.watched = Form1->MorphFrames[1];
            }
            if (turns++ > 0) {
                longestGap = std::max(longestGap, clock.nsecsElapsed());
            }
            clock.restart();
        });
        qApp->removeEventFilter(&counter);
        QVERIFY(dialogs->boxes.empty());
        qInfo("scenario build: %lld ms, %d event-loop turns, longest gap %.1f ms, %d paints of "
              "frame 1",
              total, turns, double(longestGap) / 1e6, counter.paints);
        // Frame 1 is repainted at every progress point of its build (26 columns of 20).
        QVERIFY2(counter.paints >= 26, qPrintable(QString::number(counter.paints)));
        QVERIFY(turns >= bench::kFrames); // the event loop turned in every frame

        const bench::Scenario& scenario = bench::TheScenario();
        const MorphSequence engine =
            BuildMorph({scenario.source, scenario.target, scenario.sourceLines, bench::kLines,
                        scenario.targetLines, bench::kLines},
                       bench::Settings(1, 0));
        for (int k : {1, 7, 15, 28}) {
            QVERIFY2(Form1->MorphFrames[std::size_t(k)]->bitmap() == engine.blends[std::size_t(k)],
                     qPrintable(QString::number(k)));
        }
    }

    void cancelEndsTheScenarioBuild() {
        PrepareScenario();
        QElapsedTimer sinceClick;
        bool clicked = false;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (!clicked && Form4->Label1->text() == "Building Image 3 ...") {
                clicked = true;
                QTest::mouseClick(Form4->Button1, Qt::LeftButton);
                sinceClick.start();
            }
        });
        timer.start(0);
        Form1->WarpedImages1->trigger();
        const double answered = double(sinceClick.nsecsElapsed()) / 1e6;
        timer.stop();
        QVERIFY(clicked);
        qInfo("Cancel answered after %.2f ms", answered);
        QVERIFY(dialogs->boxes.empty());
        QVERIFY(!Form4->isVisible());
        // Frames after the click were stopped at their first progress point.
        Bitmap last = Form1->MorphFrames[std::size_t(bench::kFrames - 2)]->bitmap();
        last.setPixel(0, 0, kWhite);
        QVERIFY(last == Bitmap(bench::kSide, bench::kSide));
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::ScenarioBuildWindowTest>(argc, argv, morph::dialogs);
}

#include "ScenarioBuildWindowTest.moc"
