// The main window's line drawing with the mouse and the redraw of a side.
#include "editor/MainWindow.h"

#include "editor/FloatingLinesWindow.h"
#include "editor/LineRendering.h"
#include "editor/Program.h"
#include "platform/gui/Dialogs.h"
#include "views/PropertiesWindow.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace morph {

namespace {

// A Ctrl-press closer than this to an end point grabs it.
constexpr double kGrabDistance = 8;
// FindNearestLine takes a line only when its score is below this.
constexpr double kNearestLimit = 1000;

LinePoint ToLinePoint(QPoint point) {
    return {point.x(), point.y()};
}

ControlLine LineOf(QPoint start, QPoint end) {
    return {start.x(), start.y(), end.x(), end.y()};
}

double Distance(QPoint point, std::int32_t x, std::int32_t y) {
    const double dx = double(point.x()) - double(x);
    const double dy = double(point.y()) - double(y);
    return std::sqrt(dx * dx + dy * dy);
}

int UsedSlots(int count) {
    return std::clamp(count, 0, LineSlots);
}

} // namespace

void TForm1::Button2Click() {
    ToggleLineMode(Side::Source);
}
void TForm1::Button3Click() {
    ToggleLineMode(Side::Target);
}
void TForm1::PutLinesSouorce1Click() {
    Button2Click();
}
void TForm1::PutLinesTarget1Click() {
    Button3Click();
}

void TForm1::Image1MouseDown(const PictureMouse& mouse) {
    PictureMouseDown(Side::Source, mouse);
}
void TForm1::Image1MouseMove(const PictureMouse& mouse) {
    PictureMouseMove(Side::Source, mouse);
}
void TForm1::Image1MouseUp(const PictureMouse& mouse) {
    PictureMouseUp(Side::Source, mouse, false);
}
void TForm1::Image2MouseDown(const PictureMouse& mouse) {
    PictureMouseDown(Side::Target, mouse);
}
void TForm1::Image2MouseMove(const PictureMouse& mouse) {
    PictureMouseMove(Side::Target, mouse);
}
void TForm1::Image2MouseUp(const PictureMouse& mouse) {
    PictureMouseUp(Side::Target, mouse, false);
}

QString TForm1::CoordinatesText(Side side, QPoint start, QPoint end) {
    return QString::fromLatin1(Parts(side).name) + QLatin1Char(' ') + QString::number(start.x()) +
           QLatin1Char(',') + QString::number(start.y()) + QLatin1Char(' ') +
           QString::number(end.x()) + QLatin1Char(',') + QString::number(end.y());
}

bool TForm1::SideIsFull(int count) const {
    return count >= std::min(MaxLines, LineSlots);
}

void TForm1::ShowSideFull(Side side) {
    ShowInformation(this, QStringLiteral(" The ") + QString::fromLatin1(Parts(side).name) +
                              QStringLiteral(" already has ") + QString::number(MaxLines) +
                              QStringLiteral(" Lines, the Maximum!"));
}

void TForm1::ToggleLineMode(Side side) {
    if (WarpedBuildRunning) {
        return;
    }
    SideParts p = Parts(side);
    if (*p.editing) {
        if (p.floating) {
            p.floating->hide();
        }
        p.image->setEnabled(false);
        // Both buttons read "Put Lines" once a side has been in the mode.
        p.modeButton->setText(QStringLiteral("Put Lines"));
        SetFrameShape(p.bevel, true);
        p.bevel->repaint();
        *p.editing = false;
        return;
    }
    if (Image1->width() != Image2->width() || Image1->height() != Image2->height()) {
        ShowError(this, QStringLiteral(" The Images Must Have the same Height and Width!"));
        return;
    }
    const int width = p.image->width();
    const int height = p.image->height();
    if (p.floating) {
        p.floating->FitPicture(width, height);
        // Up and to the left of the Source picture, up and to the right of the Target's.
        const int left =
            side == Side::Source ? x() + p.image->x() - width : x() + p.image->x() + width;
        p.floating->move(left, y() + p.image->y() - height);
        p.floating->show();
        p.floating->repaint();
    }
    p.image->setEnabled(true);
    p.modeButton->setText(QStringLiteral("Ok"));
    SetFrameShape(p.bevel, false);
    p.bevel->repaint();
    *p.editing = true;
}

void TForm1::PictureMouseDown(Side side, const PictureMouse& mouse) {
    SideParts p = Parts(side);
    const QPoint point(mouse.x, mouse.y);
    DragStart = point;
    DragEnd = point;
    EditIndex = *p.count;
    GrabbedStart = false;
    ButtonIsDown = true;
    const int count = UsedSlots(*p.count);
    if (mouse.modifiers & Qt::ControlModifier) {
        // Lower indices first; within a line its start before its end.
        for (int i = 0; i < count; ++i) {
            const ControlLine& line = (*p.lines)[std::size_t(i)];
            const bool start = Distance(point, line.x1, line.y1) < kGrabDistance;
            if (start || Distance(point, line.x2, line.y2) < kGrabDistance) {
                DragStart = QPoint(line.x1, line.y1);
                DragEnd = QPoint(line.x2, line.y2);
                EditIndex = i;
                GrabbedStart = start;
                return;
            }
        }
    } else if (mouse.modifiers & Qt::ShiftModifier) {
        if (count == 0) {
            return; // nothing to delete or copy
        }
        const int nearest = FindNearestLine(side, mouse.x, mouse.y);
        if (mouse.button == Qt::RightButton) {
            DeleteLine(side, nearest);
        } else {
            CopyLineToOtherSide(side, nearest, mouse);
        }
    }
}

void TForm1::DeleteLine(Side side, int index) {
    SideParts p = Parts(side);
    const int count = UsedSlots(*p.count);
    if (index < 0 || index >= count) {
        return;
    }
    const LinesState before = CurrentLines();
    LineSet& lines = *p.lines;
    std::copy(lines.begin() + index + 1, lines.begin() + count, lines.begin() + index);
    lines[std::size_t(count - 1)] = ControlLine{};
    *p.count = count - 1;
    // The combo box lists "Line 1" .. "Line n" for the lines there are: rebuild the entries so
    // that the ones after the deleted line are renumbered.
    if (Form2) {
        Form2->RemoveLineEntries(side, count);
        for (int n = 1; n < count; ++n) {
            Form2->AddLineEntry(side, n);
        }
    }
    RecordLinesStep(QStringLiteral("Delete ") + QString::fromLatin1(p.name) +
                        QStringLiteral(" Line ") + QString::number(index + 1),
                    before);
}

void TForm1::CopyLineToOtherSide(Side from, int index, const PictureMouse& mouse) {
    const Side to = OtherSide(from);
    SideParts target = Parts(to);
    if (SideIsFull(*target.count)) {
        // The box takes the mouse, so this press may get no release: end the drag here, as
        // the other side's release does when the copy is made.
        ButtonIsDown = false;
        ShowSideFull(to);
        return;
    }
    const LinesState before = CurrentLines();
    (*target.lines)[std::size_t(*target.count)] = (*Parts(from).lines)[std::size_t(index)];
    ++*target.count;
    PictureMouseUp(to, mouse, true);
    RecordLinesStep(QStringLiteral("Copy ") + QString::fromLatin1(Parts(from).name) +
                        QStringLiteral(" Line ") + QString::number(index + 1) +
                        QStringLiteral(" to ") + QString::fromLatin1(target.name),
                    before);
}

void TForm1::DrawBand(const SideParts& parts) {
    const LinePoint start = ToLinePoint(DragStart);
    const LinePoint end = ToLinePoint(DragEnd);
    Canvas& picture = parts.image->canvas();
    Canvas* floating = parts.floating ? &parts.floating->Image1->canvas() : nullptr;
    Drawline(start, end, EditIndex, picture, PenMode::NotXor);
    if (floating) {
        Drawline(start, end, EditIndex, *floating, PenMode::NotXor);
    }
    DrawArrowHead(start, end, EditIndex, picture, PenMode::NotXor);
    if (floating) {
        DrawArrowHead(start, end, EditIndex, *floating, PenMode::NotXor);
    }
    parts.image->update();
    if (floating) {
        parts.floating->Image1->update();
    }
}

void TForm1::PictureMouseMove(Side side, const PictureMouse& mouse) {
    if (!ButtonIsDown) {
        return;
    }
    SideParts p = Parts(side);
    DrawBand(p);
    if (GrabbedStart) {
        DragStart = QPoint(mouse.x, mouse.y);
    } else {
        DragEnd = QPoint(mouse.x, mouse.y);
    }
    DrawBand(p);
    if (p.floating) {
        p.floating->setWindowTitle(CoordinatesText(side, DragStart, DragEnd));
    }
}

void TForm1::PictureMouseUp(Side side, const PictureMouse& mouse, bool copied) {
    SideParts p = Parts(side);
    const QPoint point(mouse.x, mouse.y);
    const LinesState before = CurrentLines();
    QString step;
    bool appended = false;
    bool refused = false;
    if (mouse.modifiers & Qt::ControlModifier) {
        const QPoint start = GrabbedStart ? point : DragStart;
        const QPoint end = GrabbedStart ? DragEnd : point;
        if (EditIndex >= 0 && EditIndex < UsedSlots(*p.count)) {
            (*p.lines)[std::size_t(EditIndex)] = LineOf(start, end);
            step = QStringLiteral("Move ") + QString::fromLatin1(p.name) +
                   QStringLiteral(" Line ") + QString::number(EditIndex + 1);
        }
        if (p.floating) {
            p.floating->setWindowTitle(CoordinatesText(side, start, end));
        }
    } else if (!(mouse.modifiers & Qt::ShiftModifier)) {
        if (SideIsFull(*p.count)) {
            refused = true;
        } else {
            (*p.lines)[std::size_t(*p.count)] = LineOf(DragStart, point);
            ++*p.count;
            appended = true;
            step = QStringLiteral("Draw ") + QString::fromLatin1(p.name) +
                   QStringLiteral(" Line ") + QString::number(*p.count);
        }
    }
    RedrawSide(side);
    ButtonIsDown = false;
    if ((appended || copied) && Form2) {
        Form2->AddLineEntry(side, *p.count);
    }
    p.panel->setText(StatusText(*p.count));
    if (!step.isEmpty()) {
        RecordLinesStep(step, before);
    }
    if (refused) {
        ShowSideFull(side);
    }
}

int TForm1::FindNearestLine(Side side, int x, int y) {
    SideParts p = Parts(side);
    double best = kNearestLimit;
    int choice = 0;
    const int count = UsedSlots(*p.count);
    for (int j = 0; j < count; ++j) {
        const ControlLine& line = (*p.lines)[std::size_t(j)];
        // Differences of 32-bit values and their products stay exact in doubles for every
        // coordinate a picture can have.
        const double dx = double(line.x2) - double(line.x1);
        const double dy = double(line.y2) - double(line.y1);
        const double px = double(x) - double(line.x1);
        const double py = double(y) - double(line.y1);
        double d = 0;
        if (dx == 0 && dy == 0) {
            // A line of length 0 has no direction. The score of a line is its length times
            // the distance, a squared distance; a point scores its squared distance, so a
            // click within 31 pixels of it can take it.
            d = px * px + py * py;
        } else {
            const double u = (px * dx + py * dy) / (dx * dx + dy * dy);
            if (u < 0 || u > 1) {
                continue;
            }
            // The perpendicular distance times the line's length.
            d = std::nearbyint(std::abs(px * dy - py * dx));
        }
        if (d < best) {
            best = d;
            choice = j;
        }
    }
    return choice;
}

void TForm1::RedrawSide(Side side) {
    SideParts p = Parts(side);
    p.image->setPicture(*p.clean);
    DrawLineSet(*p.lines, *p.count, p.image->canvas(), PenMode::Copy);
    p.image->refresh();
    if (p.floating && p.floating->isVisible()) {
        PictureBox* floating = p.floating->Image1;
        Canvas& canvas = floating->canvas();
        canvas.setBrushColour(kWhite);
        canvas.FillRect(0, 0, p.image->width(), p.image->height());
        DrawLineSet(*p.lines, *p.count, canvas, PenMode::Copy);
        DrawLineNumbers(*p.lines, *p.count, canvas);
        floating->refresh();
    }
}

} // namespace morph
