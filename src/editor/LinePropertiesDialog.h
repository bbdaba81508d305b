// The Line Properies dialog: both line sets as lists, to copy lines across, delete them and
// write the result back into the main window.
#pragma once

#include "editor/Side.h"
#include "engine/ControlLine.h"

#include <QWidget>

class QGroupBox;
class QListWidget;
class QPushButton;

namespace morph {

class TForm9 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm9(QWidget* parent = nullptr);

    // Controls, under their designer names.
    QGroupBox* GroupBox1; // "Source"
    QListWidget* ListBox1;
    QGroupBox* GroupBox2; // "Target"
    QListWidget* ListBox2;
    QPushButton* Button1; // "----->"
    QPushButton* Button2; // "<-----"
    QPushButton* Button3; // "Delete"
    QPushButton* Button5; // "Apply"
    QPushButton* Button6; // "Close"
    QPushButton* Button7; // "Cancel"

    // The working copies; entry i of a list describes line i of its set.
    LineSet SourceWork{};
    int SourceCount = 0;
    LineSet TargetWork{};
    int TargetCount = 0;

    // Snapshot of the main window's lines; the editing buttons wait for a click in a list.
    void FormShow();
    void ListBox1Click();
    void ListBox2Click();
    void Button1Click(); // selected Source lines to the end of the Target
    void Button2Click(); // selected Target lines to the end of the Source
    void Button3Click(); // selected lines of both lists removed
    void Button5Click(); // working sets into the main window
    void Button6Click();
    void Button7Click();

    // While a warped build runs the dialog may show the lines but not change them: every
    // button that edits or writes back is disabled until the build ends. Cancel stays.
    void SetLinesLocked(bool locked);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct WorkSide {
        QListWidget* list;
        LineSet* lines;
        int* count;
    };
    WorkSide Work(Side side);
    void AddEntry(QListWidget* list, int number, const ControlLine& line);
    void CopySelected(Side from);
    void DeleteSelected(Side side);
    void EnableEditing(QListWidget* list);
    void UpdateButtons();

    // The editing buttons as the lists left them (off after a show, on after a click).
    bool editingEnabled_ = false;
    bool linesLocked_ = false;
};

} // namespace morph
