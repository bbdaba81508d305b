#include "editor/LinePropertiesDialog.h"

#include "editor/FloatingLinesWindow.h"
#include "editor/LineRendering.h"
#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/FormBuilder.h"
#include "views/PropertiesWindow.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>

#include <algorithm>

namespace morph {

namespace {

QString EntryText(int number, const ControlLine& line) {
    return QString::number(number) + QStringLiteral(") ") + QString::number(line.x1) +
           QStringLiteral(", ") + QString::number(line.y1) + QStringLiteral("   ") +
           QString::number(line.x2) + QStringLiteral(", ") + QString::number(line.y2);
}

// A count read from outside, kept within the slots of a set.
int SlotCount(int count) {
    return std::clamp(count, 0, LineSlots);
}

} // namespace

TForm9::TForm9(QWidget* parent) : QWidget(parent, Qt::Window) {
    SetUpForm(this, "Form9", "Line Properies");
    resize(471, 210);
    move(277, 100);

    auto group = [&](const char* name, const char* title, int left, const char* listName,
                     QGroupBox*& box, QListWidget*& list) {
        box = Place<QGroupBox>(this, name, title, {left, 8, 201, 137});
        list = Place<QListWidget>(box, listName, {16, 24, 169, 97});
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        // 10 points: 13 pixels on the layout's screen.
        SetFontSize(list, 13);
    };
    group("GroupBox1", "Source", 8, "ListBox1", GroupBox1, ListBox1);
    group("GroupBox2", "Target", 262, "ListBox2", GroupBox2, ListBox2);
    Button1 = Place<QPushButton>(this, "Button1", "----->", {215, 32, 41, 25});
    Button2 = Place<QPushButton>(this, "Button2", "<-----", {215, 64, 41, 25});
    Button3 = Place<QPushButton>(this, "Button3", "Delete", {215, 96, 41, 25});
    Button5 = Place<QPushButton>(this, "Button5", "Apply", {112, 160, 75, 25});
    Button6 = Place<QPushButton>(this, "Button6", "Close", {198, 160, 75, 25});
    Button7 = Place<QPushButton>(this, "Button7", "Cancel", {284, 160, 75, 25});

    OnClick(Button1, this, &TForm9::Button1Click);
    OnClick(Button2, this, &TForm9::Button2Click);
    OnClick(Button3, this, &TForm9::Button3Click);
    OnClick(Button5, this, &TForm9::Button5Click);
    OnClick(Button6, this, &TForm9::Button6Click);
    OnClick(Button7, this, &TForm9::Button7Click);
    OnSignal(ListBox1, &QListWidget::itemSelectionChanged, this, &TForm9::ListBox1Click);
    OnSignal(ListBox2, &QListWidget::itemSelectionChanged, this, &TForm9::ListBox2Click);
}

TForm9::WorkSide TForm9::Work(Side side) {
    if (side == Side::Source) {
        return {ListBox1, &SourceWork, &SourceCount};
    }
    return {ListBox2, &TargetWork, &TargetCount};
}

void TForm9::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Restoring the window from the task bar is no new show: the edits stay.
    if (!event->spontaneous()) {
        FormShow();
    }
}

void TForm9::AddEntry(QListWidget* list, int number, const ControlLine& line) {
    const QString text = EntryText(number, line);
    auto* item = new QListWidgetItem(text, list);
    item->setSizeHint(QSize(QFontMetrics(list->font()).horizontalAdvance(text) + 8, 16));
}

void TForm9::FormShow() {
    SourceCount = SlotCount(Form1->SourceLineCount);
    TargetCount = SlotCount(Form1->TargetLineCount);
    ListBox1->clear();
    ListBox2->clear();
    // Slots past the count stay empty, so that Apply can hand over whole sets.
    SourceWork = LineSet{};
    TargetWork = LineSet{};
    std::copy_n(Form1->SourceLines.begin(), SourceCount, SourceWork.begin());
    std::copy_n(Form1->TargetLines.begin(), TargetCount, TargetWork.begin());
    for (int i = 0; i < SourceCount; ++i) {
        AddEntry(ListBox1, i + 1, SourceWork[i]);
    }
    for (int i = 0; i < TargetCount; ++i) {
        AddEntry(ListBox2, i + 1, TargetWork[i]);
    }
    editingEnabled_ = false;
    UpdateButtons();
}

void TForm9::UpdateButtons() {
    for (QPushButton* b : {Button1, Button2, Button3}) {
        b->setEnabled(editingEnabled_ && !linesLocked_);
    }
    Button5->setEnabled(!linesLocked_);
    Button6->setEnabled(!linesLocked_);
}

void TForm9::SetLinesLocked(bool locked) {
    linesLocked_ = locked;
    UpdateButtons();
}

void TForm9::EnableEditing(QListWidget* list) {
    if (list->currentRow() != -1) {
        editingEnabled_ = true;
        UpdateButtons();
    }
}

void TForm9::ListBox1Click() {
    EnableEditing(ListBox1);
}
void TForm9::ListBox2Click() {
    EnableEditing(ListBox2);
}

void TForm9::CopySelected(Side from) {
    const WorkSide source = Work(from);
    const WorkSide target = Work(OtherSide(from));
    const int entries = source.list->count();
    for (int i = 0; i < entries; ++i) {
        if (!source.list->item(i)->isSelected()) {
            continue;
        }
        // The receiving side is full: what was copied so far stays, the rest is not copied.
        if (*target.count >= MaxLines) {
            ShowInformation(this, QStringLiteral(" The ") +
                                      (from == Side::Source ? QStringLiteral("Target")
                                                            : QStringLiteral("Source")) +
                                      QStringLiteral(" already has ") + QString::number(MaxLines) +
                                      QStringLiteral(" Lines, the Maximum!"));
            return;
        }
        const ControlLine line = (*source.lines)[i];
        (*target.lines)[*target.count] = line;
        AddEntry(target.list, *target.count + 1, line);
        ++*target.count;
    }
}

void TForm9::DeleteSelected(Side side) {
    const WorkSide work = Work(side);
    LineSet& lines = *work.lines;
    int i = 0;
    // Removing an entry moves the later ones up, so the index only advances past kept ones.
    while (i < work.list->count()) {
        if (!work.list->item(i)->isSelected()) {
            ++i;
            continue;
        }
        std::move(lines.begin() + i + 1, lines.begin() + *work.count, lines.begin() + i);
        lines[*work.count - 1] = ControlLine{};
        --*work.count;
        delete work.list->takeItem(i);
    }
}

void TForm9::Button1Click() {
    if (!linesLocked_) {
        CopySelected(Side::Source);
    }
}
void TForm9::Button2Click() {
    if (!linesLocked_) {
        CopySelected(Side::Target);
    }
}
void TForm9::Button3Click() {
    if (linesLocked_) {
        return;
    }
    DeleteSelected(Side::Source);
    DeleteSelected(Side::Target);
}

void TForm9::Button5Click() {
    if (linesLocked_) {
        return;
    }
    const TForm1::LinesState before = Form1->CurrentLines();
    Form1->SourceLines = SourceWork;
    Form1->SourceLineCount = SourceCount;
    Form1->TargetLines = TargetWork;
    Form1->TargetLineCount = TargetCount;
    Form1->ShowSideLines(Side::Source);
    Form1->ShowSideLines(Side::Target);
    Form1->RecordLinesStep(QStringLiteral("Apply Lines"), before);
}

void TForm9::Button6Click() {
    if (linesLocked_) {
        return;
    }
    Button5Click();
    hide();
}

void TForm9::Button7Click() {
    hide();
}

} // namespace morph
