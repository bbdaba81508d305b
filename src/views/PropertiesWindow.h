// The Properties window: the morph settings as edit texts and buttons, and the side information.
#pragma once

#include "editor/Side.h"

// The controls are read directly by the other windows, so their classes come with this header.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QToolButton>
#include <QWidget>

namespace morph {

// A pair of arrows with a position of its own. A press that would leave the range does
// nothing; any other press moves the position by one and then reports which arrow it was.
class UpDown : public QWidget {
    Q_OBJECT
  public:
    explicit UpDown(QWidget* parent = nullptr);

    int position() const { return position_; }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

  signals:
    void clicked(bool up);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void press(bool up);

    QToolButton* up_;
    QToolButton* down_;
    int position_ = 0;
    int minimum_ = 0;
    int maximum_ = 100;
};

class TForm2 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* parent = nullptr);

    // Controls, under their designer names.
    QLabel* Label1; // "Constants"
    QFrame* Panel1; // frame of the three constants
    QLabel* Label2; // "A:"
    QLabel* Label3; // "B:"
    QLabel* Label4; // "Pcc:"
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QLabel* Label5;       // "1 ... 10"
    QLabel* Label6;       // "0.5 .. 2"
    QLabel* Label7;       // "0 ... 1"
    QGroupBox* GroupBox1; // "Frames"
    QLabel* Label8;
    QLineEdit* Edit4;
    UpDown* UpDown1;
    QGroupBox* GroupBox2; // "InterPolation"
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QGroupBox* GroupBox3; // "Source Properties"
    QComboBox* ComboBox1;
    QListWidget* ListBox1;
    QGroupBox* GroupBox4; // "Target Properties"
    QComboBox* ComboBox2;
    QListWidget* ListBox2;
    QGroupBox* GroupBox5; // "Outgoing Properties"
    QRadioButton* RadioButton3;
    QRadioButton* RadioButton4;
    QLabel* Label9; // "Refresh Rate : "
    QLineEdit* Edit7;
    QCheckBox* CheckBox1;

    // Every control back to its start value, both side groups rebuilt.
    void ResetProperties();
    // The side's combo box gets its three fixed entries and its caption; its list is emptied.
    void ResetSideGroup(Side side);
    // Appends "Line <n>" to the side's combo box.
    void AddLineEntry(Side side, int n);
    // Removes the entries of `count` lines, the last first; the fixed entries stay.
    void RemoveLineEntries(Side side, int count);
    // Fill the side's list from the picked entry.
    void ComboBox1Change();
    void ComboBox2Change();
    // Steps the frame count; letters in Edit4 raise the conversion error and change nothing.
    void UpDown1Click(bool up);

    // The settings, converted from the controls at the moment of the call.
    int Frames() const;
    double ConstantA() const;
    double ConstantB() const;
    double ConstantP() const;
    int RefreshRate() const;
    bool EndPointsMode() const;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QComboBox* ComboOf(Side side) const;
    QListWidget* ListOf(Side side) const;
    void ShowSideInformation(Side side);
    // After typing into a combo box no entry counts as picked.
    void ComboTyped(Side side);
};

} // namespace morph
