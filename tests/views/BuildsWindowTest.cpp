// Drives the whole road of one morph in a running program: the lines build with its " Lines "
// window and the Interpolated Lines viewer, the warped build with its " Images " window and the
// Progress window, Cancel, the refusals and errors of both builds, and the View menu.
#include "animation/AnimationWindow.h"
#include "editor/LinePropertiesDialog.h"
#include "editor/LineRendering.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "engine/FrameBuild.h"
#include "platform/gui/Application.h"
#include "support/Faults.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"
#include "support/WindowTesting.h"
#include "views/FrameWindow.h"
#include "views/InterpolatedLinesWindow.h"
#include "views/ProgressWindow.h"
#include "views/PropertiesWindow.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <type_traits>
#include <vector>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

constexpr int kSide = 164;
const QString kRebuild =
    " The Number of Frames or Lines Has Changed! Build the Interpolated Lines Again!";

Bitmap Picture(bool source) {
    Bitmap b(kSide, kSide);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            b.setPixel(x, y,
                       source
                           ? RGB(std::uint8_t(x), std::uint8_t(y), std::uint8_t(x * y % 251))
                           : RGB(std::uint8_t(255 - x), std::uint8_t(2 * y), std::uint8_t(x ^ y)));
        }
    }
    return b;
}

LineSet Lines(std::initializer_list<ControlLine> lines) {
    LineSet set{};
    std::copy(lines.begin(), lines.end(), set.begin());
    return set;
}

const LineSet kSource = Lines({{10, 20, 100, 20}, {30, 60, 30, 140}, {120, 150, 150, 100}});
const LineSet kTarget = Lines({{20, 30, 110, 25}, {40, 50, 45, 150}, {110, 140, 155, 90}});

void GiveLines(int sourceCount, int targetCount, const LineSet& source = kSource) {
    Form1->SourceLines = source;
    Form1->SourceLineCount = sourceCount;
    Form1->TargetLines = kTarget;
    Form1->TargetLineCount = targetCount;
}

void Settings(const QString& frames, const QString& refresh = "20") {
    Form2->Edit4->setText(frames);
    Form2->Edit7->setText(refresh);
}

using test::During;

template <class Widget> QStringList Items(const Widget* widget) {
    QStringList items;
    for (int i = 0; i < widget->count(); ++i) {
        if constexpr (std::is_same_v<Widget, QComboBox>) {
            items << widget->itemText(i);
        } else {
            items << widget->item(i)->text();
        }
    }
    return items;
}

// Picks an entry with the keyboard, as a user stepping through the selector does.
void Pick(QComboBox* combo, int index) {
    for (int guard = 0; combo->currentIndex() < index && guard <= combo->count(); ++guard) {
        QTest::keyClick(combo, Qt::Key_Down);
    }
}

// Build > Interpolated Lines, Build > Warped Images, View > Interpolated Lines, View > Warped
// Images, as four letters: "1101".
QString Menus() {
    QString s;
    for (QAction* a :
         {Form1->Bui1, Form1->WarpedImages1, Form1->InterpolatedLines1, Form1->WarpedImages2}) {
        s += a->isEnabled() ? '1' : '0';
    }
    return s;
}

MorphSequence EngineMorph(int frames) {
    MorphSettings settings;
    settings.frames = frames;
    settings.keepWarped = true;
    const Bitmap source = Picture(true);
    const Bitmap target = Picture(false);
    return BuildMorph({source, target, kSource, 3, kTarget, 3}, settings);
}

// White apart from pixel (0, 0): a frame stopped at its first progress point.
bool OnlyFirstPixel(Bitmap b) {
    b.setPixel(0, 0, kWhite);
    return b == Bitmap(kSide, kSide);
}

void ExpectBox(BoxKind kind, const QString& text) {
    QCOMPARE(dialogs->boxes.size(), size_t(1));
    QCOMPARE(dialogs->boxes[0].kind, kind);
    QCOMPARE(dialogs->boxes[0].text, text);
    dialogs->boxes.clear();
}

// The paints of the Images window's pictures and the progress points of a warped build, in the
// order they happen. A paint notes whether its picture already held its final content.
class PaintLog : public QObject {
  public:
    struct Entry {
        const QObject* cell; // nullptr: a progress point
        int frame;           // of the cell, or the frame being built at the progress point
        bool final;          // a paint of a cell whose picture was complete
    };
    std::vector<Entry> entries;
    // The expected final picture of each cell, and the frame it belongs to.
    std::map<const QObject*, std::pair<Bitmap, int>> cells;
    const MorphSequence* expected = nullptr;

    void Watch(const TArImage& row, const std::vector<Bitmap>& finals = {}) {
        for (std::size_t k = 0; k < row.size(); ++k) {
            cells[row[k]] = {k < finals.size() ? finals[k] : Bitmap(), int(k)};
        }
    }
    void Progress() {
        if (cells.empty()) { // the first progress point: the window's pictures exist now
            const MorphSequence& engine = *expected;
            Watch(Form1->WarpedSourceFrames, engine.warpedSource);
            Watch(Form1->MorphFrames, engine.blends);
            Watch(Form1->WarpedTargetFrames, engine.warpedTarget);
        }
        const QString label = Form4->Label1->text();
        entries.push_back({nullptr, label.section(' ', 2, 2).toInt(), false});
    }
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const auto found = cells.find(object);
            if (found != cells.end()) {
                const auto* picture = static_cast<const PictureBox*>(object);
                entries.push_back(
                    {object, found->second.second, picture->bitmap() == found->second.first});
            }
        }
        return false;
    }
};

// A lines build of the three line pairs above.
void BuildLines(int frames) {
    GiveLines(3, 3);
    Settings(QString::number(frames));
    Form1->Bui1->trigger();
    QVERIFY(dialogs->boxes.empty());
    QCOMPARE(int(Form1->FrameLineSets.size()), frames);
    Form3->hide();
}

} // namespace

class BuildsWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void init() { dialogs->clear(); }
    void cleanup() { QCOMPARE(dialogs->unexpected, 0); }

    // Runs first: no build has happened yet.
    void buildsAreRefusedBeforeAnythingIsMade() {
        Form1->Image1->setPicture(Picture(true));
        Form1->MyFormCreate(2);
        Form1->Image2->setPicture(Picture(false));
        Form1->MyFormCreate(1);
        QCOMPARE(Menus(), QString("1000"));
        Settings("5");
        GiveLines(0, 0);
        Form1->Bui1->trigger();
        ExpectBox(BoxKind::Error, " Draw at Least ONE Line! ");
        GiveLines(3, 2);
        Form1->Bui1->trigger();
        ExpectBox(BoxKind::Error, " Different Number of Lines!");
        RunCommand([] { Form1->WarpedImages1Click(); });
        ExpectBox(BoxKind::Error, " Different Number of Lines!");
        GiveLines(3, 3);
        for (const char* frames : {"0", "-4"}) {
            Settings(frames);
            Form1->Bui1->trigger();
            ExpectBox(BoxKind::Error, " The Number of Frames Must Be at Least 1!");
        }
        Settings("five");
        Form1->Bui1->trigger();
        ExpectBox(BoxKind::ApplicationError, "'five' is not a valid integer value.");
        // Without a lines build there are no line sets to warp with.
        Settings("5");
        RunCommand([] { Form1->WarpedImages1Click(); });
        ExpectBox(BoxKind::Error, kRebuild);
        QVERIFY(!Form1->LinesWindow && !Form1->ImagesWindow && !Form3->isVisible());
        QVERIFY(Form1->FrameLineSets.empty());
        QCOMPARE(Menus(), QString("1000"));
    }

    void linesBuildShowsWindowViewerAndMenus() {
        GiveLines(3, 3);
        Settings("5");
        Form1->Bui1->trigger();
        auto* window = qobject_cast<FrameWindow*>(Form1->LinesWindow);
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QString(" Lines "));
        QCOMPARE(window->size(), QSize(890, 542));
        QCOMPARE(Form1->LineFramesTop[2]->geometry(), QRect(358, 10, 164, 164));
        QCOMPARE(Form1->LineFramesMiddle[2]->geometry(), QRect(358, 184, 164, 164));
        QCOMPARE(Form1->LineFramesBottom[2]->geometry(), QRect(358, 358, 164, 164));
        QCOMPARE(Form1->FrameLineSets[0], Form1->SourceLines);
        QCOMPARE(Form1->FrameLineSets[4], Form1->TargetLines);
        // All three rows show the frame's lines in their colours on white.
        for (int i : {0, 2, 4}) {
            const Bitmap& top = Form1->LineFramesTop[i]->bitmap();
            QCOMPARE(Form1->LineFramesMiddle[i]->bitmap(), top);
            QCOMPARE(Form1->LineFramesBottom[i]->bitmap(), top);
            const ControlLine& line = Form1->FrameLineSets[i][1];
            QCOMPARE(top.pixel(line.x1, line.y1), LineColour(1));
            QCOMPARE(top.pixel(80, 100), kWhite);
        }
        QCOMPARE(Form1->LineFramesTop[4]->bitmap().pixel(20, 30), LineColour(0));
        QCOMPARE(Menus(), QString("1110"));

        // The viewer: both halves list frame 0 with " ,  ", a selection lists with ", ".
        QVERIFY(Form3->isVisible());
        const QStringList images{"Image 0", "Image 1", "Image 2", "Image 3", "Image 4"};
        QCOMPARE(Items(Form3->ComboBox1), images);
        QCOMPARE(Items(Form3->ComboBox2), images);
        QCOMPARE(Form3->ComboBox2->currentText(), QString("Image 0"));
        const QStringList shown{"1) 10, 20   100 ,  20", "2) 30, 60   30 ,  140",
                                "3) 120, 150   150 ,  100"};
        QCOMPARE(Items(Form3->ListBox1), shown);
        QCOMPARE(Items(Form3->ListBox2), shown);
        Pick(Form3->ComboBox2, 4);
        QCOMPARE(Items(Form3->ListBox2), (QStringList{"1) 20, 30   110, 25", "2) 40, 50   45, 150",
                                                      "3) 110, 140   155, 90"}));
        QCOMPARE(Items(Form3->ListBox1), shown);
        // A typed text names no frame.
        QTest::keyClicks(Form3->ComboBox2->lineEdit(), "x");
        QCOMPARE(Form3->ListBox2->count(), 0);
        QTest::mouseClick(Form3->Button4, Qt::LeftButton);
        QVERIFY(!Form3->isVisible());

        // Asked for more frames and lines than the build stored, the viewer keeps to those.
        Settings("9");
        GiveLines(4, 4);
        Form1->InterpolatedLines1->trigger();
        QCOMPARE(Form3->ComboBox1->count(), 5);
        QCOMPARE(Form3->ListBox1->count(), 3);
        Pick(Form3->ComboBox2, 8);
        QCOMPARE(Form3->ListBox2->count(), 3);
        QTest::mouseClick(Form3->Button4, Qt::LeftButton);
        Settings("many");
        Form1->InterpolatedLines1->trigger();
        ExpectBox(BoxKind::ApplicationError, "'many' is not a valid integer value.");
        QVERIFY(!Form3->isVisible());
    }

    void warpedBuildGivesTheEnginesFrames() {
        BuildLines(5);
        QStringList labels;
        int maximum = -1;
        During([] { Form1->WarpedImages1->trigger(); },
               [&] {
                   if (labels.isEmpty() || labels.back() != Form4->Label1->text()) {
                       labels << Form4->Label1->text();
                   }
                   maximum = Form4->ProgressBar1->maximum();
               });
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(labels, (QStringList{"Building Image 0 ...", "Building Image 1 ...",
                                      "Building Image 2 ...", "Building Image 3 ...",
                                      "Building Image 4 ..."}));
        QCOMPARE(maximum, 45);
        QCOMPARE(Form4->ProgressBar1->value(), 45);
        QVERIFY(!Form4->isVisible());
        QCOMPARE(Form4->pos(), QPoint(Form1->ImagesWindow->x(), 623));
        QCOMPARE(Menus(), QString("1111"));

        auto* window = qobject_cast<FrameWindow*>(Form1->ImagesWindow);
        QCOMPARE(window->windowTitle(), QString(" Images "));
        QCOMPARE(window->size(), QSize(890, 542));
        QCOMPARE(Form1->MorphFrames[1]->geometry(), QRect(184, 184, 164, 164));
        QCOMPARE(Form1->MorphFrames.front()->bitmap(), Picture(true));
        QCOMPARE(Form1->WarpedSourceFrames.front()->bitmap(), Picture(true));
        QCOMPARE(Form1->MorphFrames.back()->bitmap(), Picture(false));
        QCOMPARE(Form1->WarpedTargetFrames.back()->bitmap(), Picture(false));
        const MorphSequence engine = EngineMorph(5);
        for (int k = 1; k <= 3; ++k) {
            QVERIFY(Form1->MorphFrames[k]->bitmap() == engine.blends[k]);
            QVERIFY(Form1->WarpedSourceFrames[k]->bitmap() == engine.warpedSource[k]);
            QVERIFY(Form1->WarpedTargetFrames[k]->bitmap() == engine.warpedTarget[k]);
        }

        // Closing only hides; View brings back the same window with its frames.
        window->close();
        Form1->WarpedImages2->trigger();
        QVERIFY(window->isVisible());
        QVERIFY(Form1->MorphFrames[2]->bitmap() == engine.blends[2]);
        // A lines build turns View > Warped Images off although the window exists.
        BuildLines(5);
        QCOMPARE(Menus(), QString("1110"));
    }

    // Every picture the warp writes is painted at every progress point of its frame, and
    // painted complete before the next frame starts; View > Refresh repaints every picture of
    // the main window and of the newest frame windows.
    void warpedBuildPaintsEveryCellItWrites() {
        BuildLines(5);
        const MorphSequence engine = EngineMorph(5);
        PaintLog log;
        log.expected = &engine;
        const QMetaObject::Connection progress =
            QObject::connect(Form4->ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
                if (value > 0) { // an advance, not the bar's reset
                    log.Progress();
                }
            });
        qApp->installEventFilter(&log);
        Form1->WarpedImages1->trigger();
        QObject::disconnect(progress);
        QVERIFY(dialogs->boxes.empty());
        QCOMPARE(log.cells.size(), std::size_t(15));

        // Between two progress points of frame k every picture of column k was painted.
        QStringList missed;
        const std::vector<const TArImage*> rows{&Form1->WarpedSourceFrames, &Form1->MorphFrames,
                                                &Form1->WarpedTargetFrames};
        std::set<const QObject*> painted;
        int lastFrame = -1; // the frame of the progress point before
        for (const PaintLog::Entry& e : log.entries) {
            if (e.cell) {
                painted.insert(e.cell);
                continue;
            }
            for (std::size_t r = 0; e.frame == lastFrame && r < rows.size(); ++r) {
                if (!painted.count((*rows[r])[std::size_t(e.frame)])) {
                    missed << QString("row %1 of frame %2").arg(r).arg(e.frame);
                }
            }
            painted.clear();
            lastFrame = e.frame;
        }
        QVERIFY2(missed.isEmpty(), qPrintable(missed.mid(0, 6).join("; ")));

        // Each picture is painted with its final content before the next frame's first
        // progress point.
        for (const auto& [cell, expected] : log.cells) {
            const int frame = expected.second;
            bool shown = false;
            for (const PaintLog::Entry& e : log.entries) {
                if (!e.cell && e.frame > frame) {
                    break;
                }
                shown = shown || (e.cell == cell && e.final);
            }
            QVERIFY2(shown, qPrintable(QString("a picture of frame %1").arg(frame)));
        }

        // View > Refresh repaints the pictures of the main window and of the frame windows.
        log.entries.clear();
        log.cells.clear();
        log.Watch(Form1->MorphFrames);
        log.Watch(Form1->WarpedTargetFrames);
        log.Watch(Form1->LineFramesTop);
        log.Watch({Form1->Image1, Form1->Image2});
        Form1->Refresh1->trigger();
        qApp->removeEventFilter(&log);
        std::set<const QObject*> refreshed;
        for (const PaintLog::Entry& e : log.entries) {
            refreshed.insert(e.cell);
        }
        QCOMPARE(refreshed.size(), log.cells.size());
    }

    void warpedBuildKeepsOtherCommandsAway() {
        BuildLines(5);
        QWidget* linesWindow = Form1->LinesWindow;
        QWidget* lastImages = Form1->ImagesWindow;
        Form1->Image1->setEnabled(true); // the Source side in its drawing mode
        QStringList enabledDuring;
        QWidget* building = nullptr;
        During([] { Form1->WarpedImages1->trigger(); },
               [&] {
                   if (building || !Form4->isVisible()) {
                       return;
                   }
                   building = Form1->ImagesWindow;
                   for (QAction* a :
                        {Form1->Source1->menuAction(), Form1->Morphing1->menuAction(), Form1->Load1,
                         Form1->Targe1, Form1->PutLinesSouorce1, Form1->PutLinesTarget1,
                         Form1->ClearLinesSource1, Form1->ClearLinesTarget1, Form1->Properties2}) {
                       if (a->isEnabled()) {
                           enabledDuring << a->objectName() + a->text();
                       }
                   }
                   for (QWidget* w : std::initializer_list<QWidget*>{
                            Form1->Button1, Form1->Button2, Form1->Button3, Form1->Button4,
                            Form1->Button5, Form1->Button6, Form1->Image1, Form1->Image2}) {
                       if (w->isEnabled()) {
                           enabledDuring << w->objectName();
                       }
                   }
                   // Another build of either kind is refused; the View menu works.
                   Form1->Bui1->trigger();
                   Form1->WarpedImages1->trigger();
                   Form1->InterpolatedLines1->trigger();
               });
        QVERIFY2(enabledDuring.isEmpty(), qPrintable(enabledDuring.join(' ')));
        QVERIFY(dialogs->boxes.empty());
        QVERIFY(building && building != lastImages);
        QCOMPARE(Form1->ImagesWindow, building);
        QCOMPARE(Form1->LinesWindow, linesWindow);
        QVERIFY(Form3->isVisible());
        // Afterwards every control has its state from before the build again.
        QVERIFY(Form1->Morphing1->menuAction()->isEnabled() && Form1->Load1->isEnabled());
        QVERIFY(Form1->Button2->isEnabled() && Form1->Image1->isEnabled());
        QVERIFY(!Form1->Image2->isEnabled());
        Form1->Image1->setEnabled(false);
    }

    // The Line Properies dialog, the animation window and the pictures' double-click wait for
    // a warped build: nothing may change the lines or copy the half-built frames meanwhile.
    void lineDialogAndAnimatorWaitForTheWarpedBuild() {
        BuildLines(5);
        Form5->hide();
        Form1->Properties2->trigger();
        QVERIFY(Form9->isVisible());
        auto click = [](QListWidget* list, int row) {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(list->item(row)).center());
        };
        click(Form9->ListBox1, 0);
        QVERIFY(Form9->Button3->isEnabled());
        Form1->Image1->setEnabled(true); // the Source side in its drawing mode
        QStringList enabledDuring;
        bool tried = false;
        During([] { Form1->WarpedImages1->trigger(); },
               [&] {
                   if (tried || !Form4->isVisible()) {
                       return;
                   }
                   tried = true;
                   for (QPushButton* b : {Form9->Button1, Form9->Button2, Form9->Button3,
                                          Form9->Button5, Form9->Button6}) {
                       if (b->isEnabled()) {
                           enabledDuring << b->text();
                       }
                   }
                   if (Form1->AnimatorvQv1->isEnabled()) {
                       enabledDuring << Form1->AnimatorvQv1->text();
                   }
                   // A click in a list does not bring the editing buttons back.
                   click(Form9->ListBox2, 1);
                   for (QPushButton* b : {Form9->Button1, Form9->Button3}) {
                       if (b->isEnabled()) {
                           enabledDuring << b->text() + " after a list click";
                       }
                   }
                   for (QPushButton* b : {Form9->Button3, Form9->Button5, Form9->Button6}) {
                       QTest::mouseClick(b, Qt::LeftButton);
                   }
                   // Reached all the same, the handlers refuse.
                   RunCommand([] {
                       Form9->Button2Click();
                       Form9->Button3Click();
                       Form9->Button6Click();
                       Form1->AnimatorvQv1Click();
                   });
                   Form1->AnimatorvQv1->trigger();
                   QTest::mouseDClick(Form1->Image1, Qt::LeftButton);
                   RunCommand([] { Form1->Image1DblClick(); });
               });
        QVERIFY(tried);
        QVERIFY2(enabledDuring.isEmpty(), qPrintable(enabledDuring.join(", ")));
        QVERIFY(dialogs->boxes.empty());
        QVERIFY(!Form5->isVisible());
        QCOMPARE(Form1->SourceLineCount, 3);
        QCOMPARE(Form1->TargetLineCount, 3);
        QVERIFY(Form1->SourceLines == kSource && Form1->TargetLines == kTarget);
        QCOMPARE(Form9->ListBox1->count(), 3);
        QCOMPARE(Form9->ListBox2->count(), 3);
        QVERIFY(Form9->isVisible());
        // Afterwards the dialog works again, with the state the list clicks gave it.
        QVERIFY(Form9->Button1->isEnabled() && Form9->Button3->isEnabled() &&
                Form9->Button5->isEnabled() && Form9->Button6->isEnabled());
        QVERIFY(Form1->AnimatorvQv1->isEnabled());
        QTest::mouseClick(Form9->Button3, Qt::LeftButton);
        QCOMPARE(Form9->ListBox1->count(), 2);
        QTest::mouseClick(Form9->Button7, Qt::LeftButton);
        QVERIFY(!Form9->isVisible());
        Form1->Image1->setEnabled(false);
        QCOMPARE(Form1->SourceLineCount, 3);
    }

    void cancelDuringFrameTwoOfSix() {
        BuildLines(6);
        int clickedAt = -1;
        QString menusAfterCancel;
        During([] { Form1->WarpedImages1->trigger(); },
               [&] {
                   const QString label = Form4->Label1->text();
                   if (clickedAt < 0 && label == "Building Image 2 ..." &&
                       Form4->ProgressBar1->value() >= 21) {
                       clickedAt = Form4->ProgressBar1->value();
                       QTest::mouseClick(Form4->Button1, Qt::LeftButton);
                   } else if (label == "Building Image 4 ...") {
                       menusAfterCancel = Menus();
                   }
               });
        QVERIFY(dialogs->boxes.empty());
        // Frame 2 stops at the click, at its progress point of column 40; frames 3 to 5 each
        // stop at their first point.
        QCOMPARE(clickedAt, 21);
        QCOMPARE(Form4->ProgressBar1->value(), 24);
        QVERIFY(!Form4->isVisible());
        QCOMPARE(menusAfterCancel, QString("1110"));
        QCOMPARE(Menus(), QString("1111"));
        const MorphSequence engine = EngineMorph(6);
        QVERIFY(Form1->MorphFrames[1]->bitmap() == engine.blends[1]);
        const Bitmap& stopped = Form1->MorphFrames[2]->bitmap();
        QCOMPARE(stopped.pixel(40, 0), engine.blends[2].pixel(40, 0));
        for (int y = 0; y < kSide; ++y) {
            QCOMPARE(stopped.pixel(39, y), engine.blends[2].pixel(39, y));
            QCOMPARE(stopped.pixel(41, y), kWhite);
        }
        QVERIFY(OnlyFirstPixel(Form1->MorphFrames[3]->bitmap()));
        QVERIFY(OnlyFirstPixel(Form1->WarpedSourceFrames[4]->bitmap()));
        QCOMPARE(Form1->MorphFrames[5]->bitmap(), Picture(false));

        // Showing the window again clears the request: the next build runs through.
        Form1->WarpedImages1->trigger();
        QCOMPARE(Form4->ProgressBar1->value(), 54);
        QVERIFY(Form1->MorphFrames[3]->bitmap() == engine.blends[3]);
    }

    void warpedBuildNeedsTheSetsOfTheLastLinesBuild() {
        BuildLines(5);
        QWidget* images = Form1->ImagesWindow;
        Settings("6");
        Form1->WarpedImages1->trigger();
        ExpectBox(BoxKind::Error, kRebuild);
        Settings("5");
        GiveLines(2, 2);
        Form1->WarpedImages1->trigger();
        ExpectBox(BoxKind::Error, kRebuild);
        GiveLines(3, 3);
        for (const char* rate : {"0", "-3"}) {
            Settings("5", rate);
            Form1->WarpedImages1->trigger();
            ExpectBox(BoxKind::Error, " The Refresh Rate Must Be at Least 1!");
        }
        QCOMPARE(Form1->ImagesWindow, images);
        QVERIFY(!Form4->isVisible());
        QCOMPARE(Menus(), QString("1110"));
    }

    void oneFrameStopsWithDivisionByZero() {
        BuildLines(5);
        const FrameLineSets before = Form1->FrameLineSets;
        Settings("1");
        Form1->Bui1->trigger();
        ExpectBox(BoxKind::ApplicationError, "Floating point division by zero.");
        // The window is made with its one frame; the line sets, viewer and menus stay.
        QVERIFY(Form1->LinesWindow->isVisible());
        QCOMPARE(Form1->LinesWindow->size(), QSize(194, 542));
        QVERIFY(Form1->FrameLineSets == before);
        QVERIFY(!Form3->isVisible());
        QCOMPARE(Menus(), QString("1110"));
    }

    void twoLinesBuildsLeaveTwoWindows() {
        BuildLines(5);
        QWidget* first = Form1->LinesWindow;
        BuildLines(3);
        QWidget* second = Form1->LinesWindow;
        QVERIFY(first != second && first->isVisible() && second->isVisible());
        first->close();
        second->close();
        Form1->InterpolatedLines1->trigger();
        QVERIFY(second->isVisible() && !first->isVisible());
        QCOMPARE(Form3->ComboBox1->count(), 3);
    }

    void framesWiderThanTheScreenScroll() {
        BuildLines(12); // 12 * 164 + 120 + 20 = 2108 wide on a 1920 x 1080 screen
        auto* window = qobject_cast<FrameWindow*>(Form1->LinesWindow);
        const int extent = window->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        // The horizontal scroll bar gets room of its own below the rows.
        QCOMPARE(window->size(), QSize(1920, 542 + extent));
        QCOMPARE(window->content()->size(), QSize(2108, 542));
        QCOMPARE(Form1->LineFramesBottom[11]->geometry(), QRect(1924, 358, 164, 164));
        QCoreApplication::processEvents(); // the event loop lays the window out
        QScrollBar* bar = window->scrollArea()->horizontalScrollBar();
        QVERIFY(bar->isVisible());
        QVERIFY(!window->scrollArea()->verticalScrollBar()->isVisible());
        bar->setValue(bar->maximum());
        QCOMPARE(Form1->LineFramesBottom[11]->visibleRegion(), QRegion(0, 0, 164, 164));
    }

    // A window that overflows the 1920 x 1080 screen in one direction gets the scroll bar of
    // that direction only, unless that bar takes the room the other direction needed.
    void frameWindowsGetOnlyTheScrollBarsTheyNeed() {
        struct Case {
            QSize content;
            bool horizontal;
            bool vertical;
        };
        const Case cases[] = {
            {{890, 542}, false, false}, {{1920, 1080}, false, false}, {{2108, 542}, true, false},
            {{800, 1250}, false, true}, {{2108, 1250}, true, true},   {{2108, 1070}, true, true},
            {{1915, 1250}, true, true},
        };
        for (const Case& c : cases) {
            FrameWindow window(QStringLiteral(" Images "));
            window.SetFrameSize(c.content);
            window.show();
            QCoreApplication::processEvents();
            const QString name = QString("%1 x %2").arg(c.content.width()).arg(c.content.height());
            QScrollArea* area = window.scrollArea();
            QCOMPARE(area->horizontalScrollBar()->isVisible(), c.horizontal);
            QCOMPARE(area->verticalScrollBar()->isVisible(), c.vertical);
            QVERIFY2(window.width() <= 1920 && window.height() <= 1080, qPrintable(name));
            // Whatever needs no scrolling is shown whole.
            const QSize viewport = area->viewport()->size();
            QVERIFY2(c.horizontal || viewport.width() == c.content.width(), qPrintable(name));
            QVERIFY2(c.vertical || viewport.height() == c.content.height(), qPrintable(name));
        }
    }

    // Both builds hold three pictures a frame: one that needs more memory than the machine
    // has is refused before anything is made, stating the need.
    void buildsNeedingMoreMemoryThanAvailableAreRefused() {
        BuildLines(5);
        QWidget* lines = Form1->LinesWindow;
        QWidget* images = Form1->ImagesWindow;
        const QString menus = Menus();
        const std::int64_t need = 3 * 5 * kSide * kSide * 4;
        {
            const test::AvailableMemory available(std::int64_t(1) << 20);
            Form1->Bui1->trigger();
            ExpectBox(BoxKind::ApplicationError,
                      "This build of 5 frames of 164 x 164 pixels needs "
                      "1.5 MiB, but only 1.0 MiB of memory is available.");
            Form1->WarpedImages1->trigger();
            ExpectBox(BoxKind::ApplicationError,
                      "This build of 5 frames of 164 x 164 pixels needs "
                      "1.5 MiB, but only 1.0 MiB of memory is available.");
            const test::AvailableMemory almost(need - 1);
            Form1->WarpedImages1->trigger();
            ExpectBox(BoxKind::ApplicationError,
                      "This build of 5 frames of 164 x 164 pixels needs 1613760 bytes, but only "
                      "1613759 bytes of memory is available.");
        }
        QCOMPARE(Form1->LinesWindow, lines);
        QCOMPARE(Form1->ImagesWindow, images);
        QVERIFY(!Form4->isVisible());
        QCOMPARE(Menus(), menus);
        const test::AvailableMemory enough(need);
        Form1->WarpedImages1->trigger();
        QVERIFY(dialogs->boxes.empty());
        QVERIFY(Form1->ImagesWindow != images);
    }

    void errorsStopTheBuildWhereItStands() {
        GiveLines(3, 3, Lines({{10, 20, 100, 20}, {30, 60, 30, 60}, {120, 150, 150, 100}}));
        Settings("4");
        Form1->Bui1->trigger();
        Form1->WarpedImages1->trigger();
        ExpectBox(BoxKind::ApplicationError, "Invalid floating point operation.");
        // The Progress window stays, the menus keep their state, the lock is released.
        QVERIFY(Form4->isVisible());
        QCOMPARE(Menus(), QString("1110"));
        QVERIFY(Form1->Button2->isEnabled() && Form1->Morphing1->menuAction()->isEnabled());
        Form4->hide();

        // A rate retyped during frame 1 stops there; frame 0 stays built.
        BuildLines(5);
        During([] { Form1->WarpedImages1->trigger(); },
               [&] {
                   if (Form4->Label1->text() == "Building Image 1 ...") {
                       Form2->Edit7->setText("slow");
                   }
               });
        ExpectBox(BoxKind::ApplicationError, "'slow' is not a valid integer value.");
        QCOMPARE(Form4->ProgressBar1->value(), 10);
        QCOMPARE(Form1->MorphFrames[0]->bitmap(), Picture(true));
        // The window was not hidden, so the next build does not reset the bar.
        Form2->Edit7->setText("20");
        int firstValue = -1;
        During([] { Form1->WarpedImages1->trigger(); },
               [&] { firstValue = firstValue < 0 ? Form4->ProgressBar1->value() : firstValue; });
        QCOMPARE(firstValue, 11);
        QVERIFY(!Form4->isVisible());
        QCOMPARE(Menus(), QString("1111"));
    }
};

} // namespace morph

int main(int argc, char** argv) {
    // A screen of a common desktop size, so that the frame windows of the usual examples fit.
    QTemporaryDir config;
    QFile screens(config.filePath("screen.json"));
    if (!screens.open(QIODevice::WriteOnly)) {
        return 2;
    }
    screens.write(R"({"screens":[{"name":"desk","x":0,"y":0,"width":1920,"height":1080,)"
                  R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})");
    screens.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens.fileName()).toLocal8Bit());

    return morph::test::RunWindowTest<morph::BuildsWindowTest>(argc, argv, morph::dialogs);
}

#include "BuildsWindowTest.moc"
