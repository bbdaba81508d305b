#include "views/PropertiesWindow.h"

#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "platform/Convert.h"
#include "platform/gui/Application.h"
#include "platform/gui/FormBuilder.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace morph {

namespace {

// Entries every side combo box starts with; line entries follow from this position on.
constexpr int kFirstLineEntry = 3;

// Children of a bold group box keep the normal weight.
void SetPlain(QWidget* widget) {
    QFont f = widget->font();
    f.setBold(false);
    widget->setFont(f);
}

void SetBold(QWidget* widget) {
    QFont f = widget->font();
    f.setBold(true);
    widget->setFont(f);
}

QString SideCaption(Side side) {
    return side == Side::Source ? QStringLiteral(" Source Properties")
                                : QStringLiteral(" Target Properties");
}

std::string TextOf(const QLineEdit* edit) {
    return edit->text().toStdString();
}

} // namespace

UpDown::UpDown(QWidget* parent) : QWidget(parent) {
    up_ = new QToolButton(this);
    up_->setObjectName(QStringLiteral("Up"));
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setObjectName(QStringLiteral("Down"));
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {up_, down_}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setIconSize(QSize(7, 7));
    }
    connect(up_, &QToolButton::clicked, this, [this] { press(true); });
    connect(down_, &QToolButton::clicked, this, [this] { press(false); });
}

void UpDown::press(bool up) {
    const int next = position_ + (up ? 1 : -1);
    if (next < minimum_ || next > maximum_) {
        return;
    }
    position_ = next;
    emit clicked(up);
}

void UpDown::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int upper = height() / 2;
    up_->setGeometry(0, 0, width(), upper);
    down_->setGeometry(0, upper, width(), height() - upper);
}

TForm2::TForm2(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    SetUpForm(this, "Form2", "Properties", {741, 111, 156, 492});

    auto group = [this](const char* name, const char* title, QRect geometry) {
        auto* box = Place<QGroupBox>(this, name, title, geometry);
        SetBold(box);
        return box;
    };

    Label1 = Place<QLabel>(this, "Label1", "Constants", {8, 0, 100, 16});
    SetBold(Label1);

    // The constants: letter label, edit box, range hint.
    Panel1 = PlaceFrame(this, "Panel1", {0, 16, 153, 70}, QFrame::Panel | QFrame::Raised);
    // Bold, 10 points: 13 pixels on the layout's screen.
    QFont letterFont = ProgramFont(font(), 13);
    letterFont.setBold(true);
    auto constantRow = [&](int top, const char* letterName, const char* letter,
                           const char* editName, const char* rangeName, const char* range,
                           QLabel*& letterLabel, QLineEdit*& box, QLabel*& rangeLabel) {
        letterLabel = Place<QLabel>(Panel1, letterName, letter, {6, top, 32, 20});
        letterLabel->setFont(letterFont);
        box = Place<QLineEdit>(Panel1, editName, {40, top, 49, 20});
        rangeLabel = Place<QLabel>(Panel1, rangeName, range, {96, top, 54, 20});
    };
    constantRow(4, "Label2", "A:", "Edit1", "Label5", "1 ... 10", Label2, Edit1, Label5);
    constantRow(25, "Label3", "B:", "Edit2", "Label6", "0.5 .. 2", Label3, Edit2, Label6);
    constantRow(46, "Label4", "Pcc:", "Edit3", "Label7", "0 ... 1", Label4, Edit3, Label7);

    GroupBox1 = group("GroupBox1", "Frames", {0, 88, 153, 41});
    Label8 = Place<QLabel>(GroupBox1, "Label8", "Frames", {8, 18, 44, 17});
    Edit4 = Place<QLineEdit>(GroupBox1, "Edit4", "1", {56, 16, 33, 21});
    QPalette highlighted = Edit4->palette();
    highlighted.setColor(QPalette::Base, highlighted.color(QPalette::Highlight));
    highlighted.setColor(QPalette::Text, highlighted.color(QPalette::HighlightedText));
    Edit4->setPalette(highlighted);
    UpDown1 = Place<UpDown>(GroupBox1, "UpDown1", {89, 16, 16, 21});

    GroupBox2 = group("GroupBox2", "InterPolation", {0, 136, 153, 65});
    RadioButton1 = Place<QRadioButton>(GroupBox2, "RadioButton1", "EndPoints", {3, 16, 149, 19});
    RadioButton2 =
        Place<QRadioButton>(GroupBox2, "RadioButton2", "Middle Points && Angle ", {3, 38, 149, 19});

    auto sideGroup = [&](const char* groupName, const char* title, int top, const char* comboName,
                         const char* listName, QGroupBox*& box, QComboBox*& combo,
                         QListWidget*& list) {
        box = group(groupName, title, {0, top, 153, 73});
        combo = Place<QComboBox>(box, comboName, {8, 18, 137, 21});
        combo->setEditable(true);
        // Typed text never becomes an entry: the entries belong to the main window.
        combo->setInsertPolicy(QComboBox::NoInsert);
        list =
            PlaceFrame<QListWidget>(box, listName, {8, 46, 121, 17}, QFrame::Box | QFrame::Plain);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    };
    sideGroup("GroupBox3", "Source Properties", 208, "ComboBox1", "ListBox1", GroupBox3, ComboBox1,
              ListBox1);
    sideGroup("GroupBox4", "Target Properties", 288, "ComboBox2", "ListBox2", GroupBox4, ComboBox2,
              ListBox2);

    GroupBox5 = group("GroupBox5", "Outgoing Properties", {0, 368, 153, 121});
    RadioButton3 =
        Place<QRadioButton>(GroupBox5, "RadioButton3", "Show Lines In Frames", {3, 16, 149, 19});
    RadioButton4 =
        Place<QRadioButton>(GroupBox5, "RadioButton4", "Hide Lines In Frames", {3, 38, 149, 19});
    Label9 = Place<QLabel>(GroupBox5, "Label9", "Refresh Rate : ", {6, 68, 84, 17});
    Edit7 = Place<QLineEdit>(GroupBox5, "Edit7", {92, 66, 49, 21});
    CheckBox1 = Place<QCheckBox>(GroupBox5, "CheckBox1", "Progress Info", {3, 94, 149, 19});

    for (QGroupBox* box : {GroupBox1, GroupBox2, GroupBox3, GroupBox4, GroupBox5}) {
        for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            SetPlain(child);
        }
    }

    OnSignal(UpDown1, &UpDown::clicked, this, &TForm2::UpDown1Click);
    OnSignal(ComboBox1, &QComboBox::activated, this, &TForm2::ComboBox1Change);
    OnSignal(ComboBox2, &QComboBox::activated, this, &TForm2::ComboBox2Change);
    connect(ComboBox1->lineEdit(), &QLineEdit::textEdited, this,
            [this] { ComboTyped(Side::Source); });
    connect(ComboBox2->lineEdit(), &QLineEdit::textEdited, this,
            [this] { ComboTyped(Side::Target); });

    ResetSideGroup(Side::Source);
    ResetSideGroup(Side::Target);
}

void TForm2::showEvent(QShowEvent* event) {
    // A show by the window system (restoring the window) is not a show of the program's.
    if (!event->spontaneous()) {
        ResetProperties();
    }
    QWidget::showEvent(event);
}

void TForm2::closeEvent(QCloseEvent* event) {
    // The user cannot close the window; the program's own close (ending the application
    // closes every window first, and one refusal would keep it running) goes through.
    if (event->spontaneous()) {
        event->ignore();
    } else {
        event->accept();
    }
}

void TForm2::ResetProperties() {
    Edit1->setText(QStringLiteral("2"));
    Edit2->setText(QStringLiteral("1"));
    Edit3->setText(QStringLiteral("0"));
    Edit4->setText(QStringLiteral("2"));
    RadioButton1->setChecked(true);
    RadioButton2->setChecked(false);
    RadioButton3->setChecked(true);
    RadioButton4->setChecked(false);
    Edit7->setText(QStringLiteral("20"));
    CheckBox1->setChecked(true);
    ListBox1->clear();
    ListBox2->clear();
    ResetSideGroup(Side::Source);
    ResetSideGroup(Side::Target);
}

QComboBox* TForm2::ComboOf(Side side) const {
    return side == Side::Source ? ComboBox1 : ComboBox2;
}

QListWidget* TForm2::ListOf(Side side) const {
    return side == Side::Source ? ListBox1 : ListBox2;
}

void TForm2::ResetSideGroup(Side side) {
    QComboBox* combo = ComboOf(side);
    const QSignalBlocker blocker(combo);
    combo->clear();
    combo->addItems({QStringLiteral("Maximum Size"), QStringLiteral("Image Size"),
                     QStringLiteral("Number of Lines")});
    // Filling an empty combo box picks its first entry; nothing is picked after a reset.
    combo->setCurrentIndex(-1);
    combo->setEditText(SideCaption(side));
    ListOf(side)->clear();
}

void TForm2::AddLineEntry(Side side, int n) {
    QComboBox* combo = ComboOf(side);
    const QSignalBlocker blocker(combo);
    const QString text = combo->currentText();
    const bool picked = combo->currentIndex() >= 0;
    combo->addItem(QStringLiteral("Line ") + QString::number(n));
    if (!picked) {
        combo->setCurrentIndex(-1);
        combo->setEditText(text);
    }
}

void TForm2::RemoveLineEntries(Side side, int count) {
    QComboBox* combo = ComboOf(side);
    const QSignalBlocker blocker(combo);
    const int picked = combo->currentIndex();
    if (picked >= kFirstLineEntry) {
        ListOf(side)->clear();
        // Removing the picked entry would make the combo box pick a neighbour whose
        // information the list does not show; show the side's caption instead.
        if (picked <= count + 2 && picked < combo->count()) {
            combo->setCurrentIndex(-1);
            combo->setEditText(SideCaption(side));
        }
    }
    for (int position = count + 2; position >= kFirstLineEntry; --position) {
        if (position < combo->count()) {
            combo->removeItem(position);
        }
    }
}

void TForm2::ComboTyped(Side side) {
    ListOf(side)->clear();
}

void TForm2::ComboBox1Change() {
    ShowSideInformation(Side::Source);
}

void TForm2::ComboBox2Change() {
    ShowSideInformation(Side::Target);
}

void TForm2::ShowSideInformation(Side side) {
    const int index = ComboOf(side)->currentIndex();
    QListWidget* list = ListOf(side);
    list->clear();
    if (!Form1 || index < 0) {
        return;
    }
    const bool source = side == Side::Source;
    QString text;
    if (index == 0) {
        const QFrame* bevel = source ? Form1->Bevel1 : Form1->Bevel2;
        text = QStringLiteral("MxH:") + QString::number(bevel->height()) + QStringLiteral(" MxW:") +
               QString::number(bevel->width());
    } else if (index == 1) {
        // An empty picture control shows its own size as the picture's.
        const PictureBox* image = source ? Form1->Image1 : Form1->Image2;
        const int height = image->hasPicture() ? image->bitmap().height() : image->height();
        const int width = image->hasPicture() ? image->bitmap().width() : image->width();
        text = QStringLiteral("H:") + QString::number(height) + QStringLiteral(" W:") +
               QString::number(width);
    } else if (index == 2) {
        const int count = source ? Form1->SourceLineCount : Form1->TargetLineCount;
        text = QStringLiteral("#:") + QString::number(count);
    } else {
        // An entry can outlive its line (lines deleted one by one); such an entry shows
        // nothing rather than a slot that holds no line.
        const int line = index - kFirstLineEntry;
        const int count = source ? Form1->SourceLineCount : Form1->TargetLineCount;
        if (line >= std::min(count, LineSlots)) {
            return;
        }
        const ControlLine& l = (source ? Form1->SourceLines : Form1->TargetLines)[line];
        text = QString::number(l.x1) + QStringLiteral(", ") + QString::number(l.y1) +
               QStringLiteral("  ") + QString::number(l.x2) + QStringLiteral(", ") +
               QString::number(l.y2);
    }
    list->addItem(text);
}

void TForm2::UpDown1Click(bool up) {
    const long long frames = StrToInt(TextOf(Edit4));
    const long long stepped =
        std::clamp(frames + (up ? 1 : -1), 2LL, static_cast<long long>(INT_MAX));
    Edit4->setText(QString::number(stepped));
}

int TForm2::Frames() const {
    return StrToInt(TextOf(Edit4));
}

double TForm2::ConstantA() const {
    return StrToFloat(TextOf(Edit1));
}

double TForm2::ConstantB() const {
    return StrToFloat(TextOf(Edit2));
}

double TForm2::ConstantP() const {
    return StrToFloat(TextOf(Edit3));
}

int TForm2::RefreshRate() const {
    return StrToInt(TextOf(Edit7));
}

bool TForm2::EndPointsMode() const {
    return RadioButton1->isChecked();
}

} // namespace morph
