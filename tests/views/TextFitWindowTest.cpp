// Every text of every window fits the control that shows it, in the program's font and style:
// captions of labels (word-wrapped ones by their lines), buttons, radio buttons and check boxes
// (beside their indicators), group box titles, combo box entries and list entries (within the
// list's viewport, beside its scroll bar). Controls whose text changes are checked with the
// longest texts they can get.
#include "animation/AnimationWindow.h"
#include "animation/PutNewFileDialog.h"
#include "editor/LinePropertiesDialog.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "editor/SourceLinesWindow.h"
#include "editor/TargetLinesWindow.h"
#include "editor/WarpOptionsDialog.h"
#include "support/ScriptedDialogs.h"
#include "support/WindowTestMain.h"
#include "views/FrameWindow.h"
#include "views/InterpolatedLinesWindow.h"
#include "views/LineInfluenceWindow.h"
#include "views/ProgressWindow.h"
#include "views/PropertiesWindow.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTest>

#include <algorithm>
#include <map>
#include <vector>

namespace morph {
namespace {

test::ScriptedDialogs* dialogs = nullptr;

// Where a control's text goes and how much room the text takes there.
struct Room {
    QSize needs;
    QSize has;
};

// The text as drawn: "&&" shows one ampersand, a single "&" marks a shortcut and is not drawn.
QSize ShownSize(const QFontMetrics& metrics, const QString& text) {
    return metrics.size(Qt::TextShowMnemonic, text);
}

Room LabelRoom(const QLabel* label, const QString& text) {
    const QFontMetrics metrics(label->font());
    QRect area = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(),
                                                -label->margin());
    // A framed label keeps half an "x" from the side its text is aligned to.
    const int indent = label->indent() >= 0
                           ? label->indent()
                           : (label->frameWidth() > 0 ? metrics.horizontalAdvance('x') / 2 : 0);
    const Qt::Alignment align = label->alignment();
    if (align & Qt::AlignLeft) {
        area.setLeft(area.left() + indent);
    }
    if (align & Qt::AlignRight) {
        area.setRight(area.right() - indent);
    }
    if (label->wordWrap()) {
        const QRect lines = metrics.boundingRect(QRect(0, 0, area.width(), 10000),
                                                 int(align) | Qt::TextWordWrap, text);
        return {lines.size(), area.size()};
    }
    return {QSize(metrics.horizontalAdvance(text), metrics.height()), area.size()};
}

Room ButtonRoom(const QAbstractButton* button, const QString& text) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    QStyle::SubElement contents = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QRadioButton*>(button)) {
        contents = QStyle::SE_RadioButtonContents;
    } else if (qobject_cast<const QCheckBox*>(button)) {
        contents = QStyle::SE_CheckBoxContents;
    }
    const QRect area = button->style()->subElementRect(contents, &option, button);
    return {ShownSize(button->fontMetrics(), text), area.size()};
}

Room GroupTitleRoom(const QGroupBox* box, const QString& title) {
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = title;
    option.textAlignment = box->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect label =
        box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    // The title must end inside the box.
    return {QSize(label.right() + 1, label.height()), QSize(box->width(), box->height())};
}

Room ComboRoom(const QComboBox* combo, const QString& text) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    option.frame = combo->hasFrame();
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxEditField, combo);
    int has = field.width();
    if (const QLineEdit* edit = combo->lineEdit()) {
        // A line edit keeps a margin of its own on either side of its text.
        has = edit->contentsRect().width() - 2 * 2;
    }
    return {QSize(combo->fontMetrics().horizontalAdvance(text), combo->fontMetrics().height()),
            QSize(has, field.height())};
}

// An entry in one row of the list's viewport, which leaves out the frame and a vertical
// scroll bar; the text keeps a margin on either side.
Room ListEntryRoom(const QListWidget* list, const QString& text) {
    const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
    return {QSize(list->fontMetrics().horizontalAdvance(text) + 2 * margin,
                  list->fontMetrics().height()),
            list->viewport()->size()};
}

bool Fits(const Room& room) {
    return room.needs.width() <= room.has.width() && room.needs.height() <= room.has.height();
}

QString Describe(const QWidget* control, const QString& text, const Room& room) {
    return QString("%1/%2 \"%3\": needs %4 x %5, has %6 x %7")
        .arg(control->window()->objectName(), control->objectName(), text)
        .arg(room.needs.width())
        .arg(room.needs.height())
        .arg(room.has.width())
        .arg(room.has.height());
}

// Fills the lists and combo boxes with their longest entries (100 lines of three-digit
// coordinates, 100 frames) and makes a " Lines " frame window.
void LongestEntries() {
    const ControlLine widest{999, 999, 999, 998};
    Form1->SourceLines.fill(widest);
    Form1->TargetLines.fill(widest);
    Form1->SourceLineCount = 100;
    Form1->TargetLineCount = 100;
    Form2->Edit4->setText("100");
    Form1->Bui1->trigger();
    Form1->FrameLineSets.assign(100, Form1->SourceLines);
    Form1->FrameLineSets.back().fill(ControlLine{999, 999, 999, 999});
    for (Side side : {Side::Source, Side::Target}) {
        Form2->ResetSideGroup(side);
        for (int n = 1; n <= 100; ++n) {
            Form2->AddLineEntry(side, n);
        }
    }
    Form3->hide();
    Form3->show();
    // The right list shows the last frame, in the format of a chosen frame.
    for (int i = 0; i < 99; ++i) {
        QTest::keyClick(Form3->ComboBox2, Qt::Key_Down);
    }
    Form9->show();
    QCoreApplication::processEvents(); // lays out the lists and their scroll bars
}

} // namespace

class TextFitWindowTest : public QObject {
    Q_OBJECT

  private slots:
    void everyTextFitsItsControl() {
        LongestEntries();
        QVERIFY(dialogs->boxes.empty());
        QVERIFY(Form1->LinesWindow && Form3->ListBox2->count() == 100);

        // Texts a control gets later, besides the one it shows now.
        const std::map<const QWidget*, QStringList> later{
            {Form1->Panel1, {"100 of 100 Maximum"}},
            {Form1->Panel2, {"100 of 100 Maximum"}},
            {Form1->Button2, {"Put Lines", "Ok"}},
            {Form1->Button3, {"Put Lines", "Ok"}},
            {Form2->ListBox1, {"MxH:337 MxW:417", "H:337 W:417", "#:100", "999, 999  999, 999"}},
            {Form4->Label1, {"Building Image 99 ..."}},
            {Form5->Button1, {"Pause"}},
            {Form5->Label2,
             {"Saving File...", "Opening File...", "Building Avi...", "Building Video... 1000/1000",
              "Finishing Video... 1000/1000", "Writing Frames... 1000/1000"}},
        };
        const std::vector<QWidget*> windows{Form1,
                                            Form2,
                                            Form3,
                                            Form4,
                                            Form5,
                                            Form6,
                                            Form7,
                                            Form8,
                                            Form9,
                                            Form1->LinesWindow,
                                            Form1->WarpOptionsForm,
                                            Form1->LineInfluenceForm};
        // The worst misfit of each control.
        std::map<const QWidget*, std::pair<int, QString>> misfits;
        int checked = 0;
        auto check = [&](const QWidget* control, const QString& text, const Room& room) {
            ++checked;
            if (text.trimmed().isEmpty() || Fits(room)) {
                return;
            }
            const int excess = std::max(room.needs.width() - room.has.width(),
                                        room.needs.height() - room.has.height());
            auto& worst = misfits[control];
            if (worst.second.isEmpty() || excess > worst.first) {
                worst = {excess, Describe(control, text, room)};
            }
        };
        for (QWidget* window : windows) {
            for (QWidget* control : window->findChildren<QWidget*>()) {
                if (control->window() != window) {
                    continue;
                }
                QStringList texts;
                if (later.count(control)) {
                    texts = later.at(control);
                }
                if (auto* label = qobject_cast<QLabel*>(control)) {
                    texts << label->text();
                    for (const QString& text : texts) {
                        check(control, text, LabelRoom(label, text));
                    }
                } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
                    texts << button->text();
                    for (const QString& text : texts) {
                        check(control, text, ButtonRoom(button, text));
                    }
                } else if (auto* box = qobject_cast<QGroupBox*>(control)) {
                    check(control, box->title(), GroupTitleRoom(box, box->title()));
                } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
                    texts << combo->currentText();
                    for (int i = 0; i < combo->count(); ++i) {
                        texts << combo->itemText(i);
                    }
                    for (const QString& text : texts) {
                        check(control, text, ComboRoom(combo, text));
                    }
                } else if (auto* list = qobject_cast<QListWidget*>(control)) {
                    for (int row = 0; row < list->count(); ++row) {
                        check(control, list->item(row)->text(),
                              ListEntryRoom(list, list->item(row)->text()));
                    }
                    // As laid out, the entries need no scrolling sideways.
                    const int sideways = list->horizontalScrollBar()->maximum();
                    check(control, QStringLiteral("(all entries)"),
                          {QSize(list->viewport()->width() + sideways, 0),
                           QSize(list->viewport()->width(), 0)});
                    for (const QString& text : texts) {
                        list->clear();
                        list->addItem(text);
                        check(control, text, ListEntryRoom(list, text));
                    }
                }
            }
        }
        QStringList report;
        for (const auto& [control, worst] : misfits) {
            report << worst.second;
        }
        report.sort();
        for (const QString& line : report) {
            qInfo("%s", qPrintable(line));
        }
        // The four lists of 100 entries alone make 400 texts.
        QVERIFY2(checked > 800 && report.isEmpty(),
                 qPrintable(QString("%1 of %2 texts do not fit").arg(report.size()).arg(checked)));
    }
};

} // namespace morph

int main(int argc, char** argv) {
    return morph::test::RunWindowTest<morph::TextFitWindowTest>(argc, argv, morph::dialogs);
}

#include "TextFitWindowTest.moc"
