// The animation window "Animation vQv" (TForm5): plays, saves, opens and extends a frame sequence.
#pragma once

#include "avi/AviWriter.h"
#include "editor/MainWindow.h"
#include "platform/Bitmap.h"
#include "platform/gui/PictureBox.h"

#include <QMainWindow>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;
class QTimer;

namespace morph {

class UpDown;

// The file-name part `name` with everything from its last dot on replaced by `extension`
// (appended when the name has no dot): "clip" and "clip.avi" give "clip.vQv".
QString WithExtension(const QString& name, const QString& extension);

class TForm5 : public QMainWindow {
    Q_OBJECT
  public:
    explicit TForm5(QWidget* parent = nullptr);

    // The window's own sequence: hidden picture holders owned by the window, all of the size
    // of Image1. Replaced as a whole by FormShow, Open and an insertion.
    TArImage PlayerFrames;
    int FrameCount = 0;
    // The frame the next tick shows; between ticks within 0..FrameCount-1.
    int CurrentFrame = 0;
    bool Playing = false;
    bool GoingForward = true;

    // What Insert > Frame / Insert > vQv File loaded: 0 nothing, 1 InsertPicture,
    // 2 InsertFrames. Kept after Ok and Cancel, replaced by the next successful load.
    int InsertMode = 0;
    PictureBox* InsertPicture = nullptr;
    TArImage InsertFrames;

    // Controls, under their designer names.
    QFrame* Bevel1;
    PictureBox* Image1;
    QSlider* TrackBar1;
    QFrame* Bevel2;
    QPushButton* Button1;
    QPushButton* Button2;
    QFrame* Bevel3;
    QPushButton* Button3;
    QPushButton* Button4;
    QLabel* Label1;
    QLineEdit* Edit1;
    UpDown* UpDown1;
    QLabel* Label2;
    QPushButton* Button5;
    QTimer* Timer1;

    // Menus and their items.
    QMenu* File1;
    QMenu* Options1;
    QMenu* Make1;
    QMenu* Insert1;
    QMenu* Help1;
    QAction* Open1;
    QAction* Save1;
    QAction* SaveAs1;
    QAction* N1;
    QAction* Exit1;
    QAction* AlwaysPlay1;
    QAction* OncePlay1;
    QAction* N2;
    QAction* Forward1;
    QAction* Backward1;
    QAction* ForwardAndBackward1;
    QAction* AviFiLe1;
    QAction* VideoFile1;
    QAction* Avi2mpg1;
    QAction* vQvFile1;
    QAction* Picture1;
    QAction* Properties1;

    // Stopped start state for `count` frames of the given size: the picture takes the size
    // and is centred in Bevel1, period 1, frame 0, track bar 0..count-1. The frames and the
    // shown picture are left to the caller.
    void ResetPlayer(int count, int height, int width);
    // Copies frame i into the picture and repaints it at once; nothing for an index outside
    // the sequence.
    void ShowFrame(int i);

    void FormShow();
    void Timer1Timer();
    void TrackBar1Change();
    void UpDown1Click(bool up);
    void Button1Click(); // Play / Pause
    void Button2Click(); // Stop
    void Button3Click(); // Start
    void Button4Click(); // End
    void Button5Click(); // Close
    void AlwaysPlay1Click();
    void OncePlay1Click();
    void Forward1Click();
    void Backward1Click();
    void ForwardAndBackward1Click();
    void Properties1Click();

    // Files.
    void Save1Click();
    void Open1Click();

    // Insertion: loading here, placing by the Put New File dialog.
    void Picture1Click();
    void vQvFile1Click();
    // Puts what was loaded before (true) or after the current frame, as the dialog's Ok does.
    // Returns false, after telling the user, when there is nothing of the right size.
    bool PutInsertion(bool before);

    // Exports the sequence as an AVI video, in the order of the checked direction, each frame
    // lasting the timer's period, optionally with a WAV file's sound.
    void AviFiLe1Click();
    // The bitmaps of the last export, in video order (the frames' own, not copies), and its
    // writer; both made afresh by every export.
    std::vector<const Bitmap*> AviFrameList;
    std::unique_ptr<TAviWriter> AviWriter;

    // Exports the sequence as an MP4, WebM, GIF, WebP or APNG video, or as a folder of PNG
    // frames, as chosen in the save dialog: the frames in the order of the checked direction,
    // each lasting the timer's period, optionally with a WAV file's sound. While an export
    // runs, the same item (or Escape) cancels it. (AnimationVideoExport.cpp)
    void VideoFile1Click();
    // Set while a video export runs: it keeps pointers to the frames' bitmaps, so every
    // command that would replace or add frames (or start another write) is disabled, and
    // refused should one be reached all the same.
    bool VideoExportRunning = false;

    // "Saving File...", "Opening File..." or " ", repainted at once.
    void SetStatus(const QString& text);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // A hidden holder of the picture, a child of the window once released.
    std::unique_ptr<PictureBox> NewHolder(Bitmap picture);
    // One holder per piece, with the picture `pictureOf(piece)`. Only a complete set is handed
    // over: a failure part way deletes the holders made so far.
    template <class Pieces, class PictureOf>
    TArImage NewHolders(Pieces&& pieces, PictureOf pictureOf);
    void ReplaceFrames(TArImage frames);
    void DeleteHolders(TArImage& holders);
    // Moves the track bar where the caller has already put CurrentFrame and the picture.
    void MoveTrackBar(int position);
    void SetPlayState(bool playing, bool startEnabled, bool endEnabled);
    void CheckDirection(QAction* direction);
    int PeriodMultiplier() const;
    // The frames' bitmaps in the order of the checked direction, as the exports write them.
    std::vector<const Bitmap*> DirectionOrder() const;
    void ExportVideo(const QString& path);
    void ExportPngFrames(const QString& folder, const std::vector<const Bitmap*>& frames);
    // Shows a progress text and tells whether the user has asked to cancel.
    using ExportStep = std::function<bool(const QString& text)>;
    // Runs `work` on a thread of its own while this thread goes on handling events, and
    // raises what `work` raised. See AnimationVideoExport.cpp.
    void RunExport(const std::function<void(const ExportStep&)>& work);
    std::atomic<bool> videoCancelRequested_{false};
    friend class VideoExportLock;

    QWidget* client_;
};

} // namespace morph
