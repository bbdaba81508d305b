#include "views/FrameWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace morph {

FrameWindow::FrameWindow(const QString& caption, QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(caption);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("ScrollArea"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(false);
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("Content"));
    scroll_->setWidget(content_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll_);
}

void FrameWindow::SetFrameSize(QSize size) {
    content_->resize(size);
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect free = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size);
    // A scroll bar takes room from the other direction: the window grows by its breadth where
    // the screen allows, and where it does not, the other direction needs its bar too.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll_);
    bool horizontal = size.width() > free.width();
    bool vertical = size.height() > free.height();
    for (int pass = 0; pass < 2; ++pass) {
        horizontal = horizontal || size.width() + (vertical ? bar : 0) > free.width();
        vertical = vertical || size.height() + (horizontal ? bar : 0) > free.height();
    }
    const QSize shown(horizontal ? free.width() : size.width() + (vertical ? bar : 0),
                      vertical ? free.height() : size.height() + (horizontal ? bar : 0));
    resize(shown);
    if (horizontal || vertical) {
        // At the screen's size the window only fits where the free area begins.
        move(free.topLeft());
    }
}

void FrameWindow::RepaintPictures() {
    RepaintWithControls(this);
}

PictureBox* FrameWindow::AddPicture(int left, int top, int width, int height) {
    auto* picture = new PictureBox(content_);
    picture->setAutoSize(false);
    picture->setGeometry(left, top, width, height);
    picture->setVisible(true);
    return picture;
}

} // namespace morph
