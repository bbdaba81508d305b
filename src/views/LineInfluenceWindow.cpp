#include "views/LineInfluenceWindow.h"

#include "platform/gui/FormBuilder.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace morph {

namespace {

// Room kept for a caption above each picture, however narrow the picture is.
constexpr int kMinColumn = 130;
constexpr int kPicturesTop = 60;

} // namespace

InfluencePictures WarpedBuildInputs::Influence(int k) const {
    const std::size_t frame = std::size_t(k);
    const Bitmap& read = k > 0 && !laterSource.empty() ? laterSource : source;
    const WarpInputs in{read,         target,    lines.front(), lines.back(),
                        lines[frame], lineCount, t[frame],      options};
    return LineInfluence(in, constants[frame]);
}

LineInfluenceWindow::LineInfluenceWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    SetUpForm(this, "LineInfluenceForm", "Line Influence");
    ScrollBox1 = Named(new QScrollArea(this), "ScrollBox1");
    ScrollBox1->setFrameShape(QFrame::NoFrame);
    ScrollBox1->setWidgetResizable(false);
    content_ = new QWidget;
    ScrollBox1->setWidget(content_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ScrollBox1);

    Label1 = Place<QLabel>(content_, "Label1", "Image", {10, 12, 41, 21});
    SpinEdit1 = Place<QSpinBox>(content_, "SpinEdit1", {56, 12, 65, 21});
    SpinEdit1->setRange(0, 0);
    Label2 = Place<QLabel>(content_, "Label2", "Strongest line", {10, 40, kMinColumn, 17});
    Label3 =
        Place<QLabel>(content_, "Label3", "Displacement", {20 + kMinColumn, 40, kMinColumn, 17});
    Image1 = Place<PictureBox>(content_, "Image1", {10, kPicturesTop, 0, 0});
    Image2 = Place<PictureBox>(content_, "Image2", {20 + kMinColumn, kPicturesTop, 0, 0});
    Image1->setAutoSize(false);
    Image2->setAutoSize(false);
    Arrange(0, 0);

    OnSignal(SpinEdit1, &QSpinBox::valueChanged, this, &LineInfluenceWindow::SpinEdit1Change);
}

void LineInfluenceWindow::Open(std::shared_ptr<const WarpedBuildInputs> build) {
    ShowBuild(std::move(build));
    show();
    raise();
    activateWindow();
}

void LineInfluenceWindow::ShowBuild(std::shared_ptr<const WarpedBuildInputs> build) {
    if (busy && busy()) {
        return;
    }
    build_ = std::move(build);
    const int frames = build_ ? build_->Frames() : 0;
    {
        const QSignalBlocker blocker(SpinEdit1);
        SpinEdit1->setRange(0, std::max(frames - 1, 0));
    }
    Arrange(build_ ? build_->source.width() : 0, build_ ? build_->source.height() : 0);
    ShowFrame(SpinEdit1->value());
}

void LineInfluenceWindow::SpinEdit1Change(int frame) {
    ShowFrame(frame);
}

void LineInfluenceWindow::ShowFrame(int frame) {
    if ((busy && busy()) || !build_ || frame < 0 || frame >= build_->Frames()) {
        return;
    }
    // Blank first: a frame whose warp faults must not show the pictures of another frame.
    const Bitmap blank(build_->source.width(), build_->source.height());
    Image1->setPicture(blank);
    Image2->setPicture(blank);
    const InfluencePictures pictures = build_->Influence(frame);
    Image1->setPicture(pictures.influence);
    Image2->setPicture(pictures.displacement);
}

void LineInfluenceWindow::Arrange(int width, int height) {
    const int column = std::max(width, kMinColumn);
    Label3->move(20 + column, Label3->y());
    Image1->resize(width, height);
    Image2->setGeometry(20 + column, kPicturesTop, width, height);
    const QSize size(2 * column + 30, kPicturesTop + height + 10);
    content_->resize(size);
    // Not larger than the screen's free area: the window scrolls over the rest.
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QSize free = screen ? screen->availableGeometry().size() : size;
    resize(size.boundedTo(free));
}

} // namespace morph
