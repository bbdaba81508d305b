#include "views/InterpolatedLinesWindow.h"

#include "editor/MainWindow.h"
#include "editor/Program.h"
#include "platform/gui/Application.h"
#include "platform/gui/FormBuilder.h"
#include "views/PropertiesWindow.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QStyledItemDelegate>

#include <algorithm>

namespace morph {

namespace {

// The frames and lines of the last lines build that a viewer asking for `frames` frames and
// `lines` lines may list: never more than the build stored.
int StoredFrames(int frames) {
    return std::clamp(frames, 0, int(Form1->FrameLineSets.size()));
}

int StoredLines(int lines) {
    return std::clamp(lines, 0, std::min(Form1->FrameLineCount, LineSlots));
}

// The lists are narrow: their entries are drawn in the condensed face of the program's font,
// in which every entry of three-digit coordinates fits one row. A longer one (coordinates of
// a picture over 999 pixels) goes on in a second row, so that every coordinate stays in sight
// without scrolling sideways. The break comes only at the gap between the start and the end
// point ("1) 1080, 112" above "1112 ,  112"): the other spaces do not break.
class WrappedEntries : public QStyledItemDelegate {
  public:
    explicit WrappedEntries(QListWidget* list) : QStyledItemDelegate(list), list_(list) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyleOptionViewItem wrapped = option;
        wrapped.rect = QRect(0, 0, list_->viewport()->width(), 1);
        wrapped.features |= QStyleOptionViewItem::WrapText;
        return QStyledItemDelegate::sizeHint(wrapped, index);
    }

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString gap = QStringLiteral("   ");
        QStringList points = option->text.split(gap);
        for (QString& point : points) {
            point.replace(QLatin1Char(' '), QChar::Nbsp);
        }
        option->text = points.join(gap);
    }

  private:
    QListWidget* list_;
};

QString LineText(int i, const ControlLine& line, const char* beforeY2) {
    return QString::number(i + 1) + QStringLiteral(") ") + QString::number(line.x1) +
           QStringLiteral(", ") + QString::number(line.y1) + QStringLiteral("   ") +
           QString::number(line.x2) + QString::fromLatin1(beforeY2) + QString::number(line.y2);
}

} // namespace

TForm3::TForm3(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    SetUpForm(this, "Form3", "Interpolated Lines", {300, 200, 321, 188});

    GroupBox1 = Place<QGroupBox>(this, "GroupBox1", {8, 0, 297, 129});
    GroupBox1->setAutoFillBackground(true);
    QPalette tooltip = GroupBox1->palette();
    tooltip.setColor(QPalette::Window, tooltip.color(QPalette::ToolTipBase));
    GroupBox1->setPalette(tooltip);

    auto combo = [this](const char* name, int left) {
        auto* c = Place<QComboBox>(GroupBox1, name, {left, 16, 129, 21});
        c->setEditable(true);
        c->setInsertPolicy(QComboBox::NoInsert);
        return c;
    };
    auto list = [this](const char* name, int left) {
        auto* l = Place<QListWidget>(GroupBox1, name, {left, 40, 113, 81});
        QFont condensed = l->font();
        condensed.setStretch(QFont::Condensed);
        l->setFont(condensed);
        l->setWordWrap(true);
        l->setItemDelegate(new WrappedEntries(l));
        // The rows are measured again when the viewport changes width (its scroll bar
        // coming or going).
        l->setResizeMode(QListView::Adjust);
        return l;
    };
    ComboBox1 = combo("ComboBox1", 8);
    ListBox1 = list("ListBox1", 8);
    ComboBox2 = combo("ComboBox2", 152);
    ListBox2 = list("ListBox2", 152);
    Button4 = Place<QPushButton>(this, "Button4", "OK", {124, 134, 41, 25});

    OnSignal(ComboBox1, &QComboBox::activated, this, &TForm3::ComboBox1Change);
    OnSignal(ComboBox2, &QComboBox::activated, this, &TForm3::ComboBox2Change);
    // A typed text names no frame until it is confirmed as one of the entries.
    OnSignal(ComboBox1->lineEdit(), &QLineEdit::textEdited, this, &TForm3::ComboBox1Change);
    OnSignal(ComboBox2->lineEdit(), &QLineEdit::textEdited, this, &TForm3::ComboBox2Change);
    OnClick(Button4, this, &TForm3::Button4Click);
}

void TForm3::Open() {
    if (!isVisible()) {
        FormShow();
        filledForShow_ = true;
    }
    show();
    raise();
    filledForShow_ = false;
}

void TForm3::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Shown by the window system (restored) or already filled by Open: nothing to do.
    if (!event->spontaneous() && !filledForShow_) {
        RunCommand([this] { FormShow(); });
    }
}

void TForm3::FormShow() {
    const int frames = Form2->Frames();
    Frames = frames;
    Lines = Form1->SourceLineCount;
    for (QComboBox* c : {ComboBox1, ComboBox2}) {
        c->clear();
    }
    ListBox1->clear();
    ListBox2->clear();
    const int shownFrames = StoredFrames(Frames);
    for (int k = 0; k < shownFrames; ++k) {
        const QString item = QStringLiteral("Image ") + QString::number(k);
        ComboBox1->addItem(item);
        ComboBox2->addItem(item);
    }
    for (QComboBox* c : {ComboBox1, ComboBox2}) {
        c->setCurrentIndex(shownFrames > 0 ? 0 : -1);
        c->setEditText(QStringLiteral("Image 0"));
    }
    if (shownFrames == 0) {
        return;
    }
    const LineSet& first = Form1->FrameLineSets.front();
    for (int i = 0; i < StoredLines(Lines); ++i) {
        ListBox1->addItem(LineText(i, first[i], " ,  "));
        ListBox2->addItem(LineText(i, first[i], " ,  "));
    }
}

void TForm3::FillList(QComboBox* combo, QListWidget* list) {
    list->clear();
    const int k = combo->currentIndex();
    // A typed text that is not the current entry's names no frame: the list stays empty.
    if (k < 0 || combo->currentText() != combo->itemText(k) || k >= StoredFrames(Frames)) {
        return;
    }
    const LineSet& lines = Form1->FrameLineSets[std::size_t(k)];
    for (int i = 0; i < StoredLines(Lines); ++i) {
        list->addItem(LineText(i, lines[i], ", "));
    }
}

void TForm3::ComboBox1Change() {
    FillList(ComboBox1, ListBox1);
}

void TForm3::ComboBox2Change() {
    FillList(ComboBox2, ListBox2);
}

void TForm3::Button4Click() {
    hide();
}

} // namespace morph
