// The Line Influence window: for a frame of the last warped build, the line pair moving each
// pixel most and how far each pixel is read from.
#pragma once

#include "engine/Influence.h"
#include "engine/Warp.h"
#include "platform/Bitmap.h"
#include "platform/gui/PictureBox.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QLabel;
class QScrollArea;
class QSpinBox;

namespace morph {

// What the warped build read for each of its frames, kept as it read it: the pictures may be
// reloaded and the lines, settings and options changed after the build.
struct WarpedBuildInputs {
    Bitmap source; // the Source picture as frame 0 read it
    // What the later frames read as the Source: frame 0 is warped into the picture that serves
    // as their Source. Empty while it is the same as `source`.
    Bitmap laterSource;
    Bitmap target;
    FrameLineSets lines; // every frame's line set, as the lines build made them
    int lineCount = 0;
    WarpOptions options;
    // One entry a frame the build reached, in frame order: its t and the constants its warp
    // read (the Properties window stays usable during the build).
    std::vector<double> t;
    std::vector<WarpConstants> constants;

    int Frames() const { return int(constants.size()); }
    // Both pictures of frame k (0 .. Frames() - 1); faults raise the warp's messages.
    InfluencePictures Influence(int k) const;
};

class LineInfluenceWindow : public QWidget {
    Q_OBJECT
  public:
    explicit LineInfluenceWindow(QWidget* parent = nullptr);

    // Controls, under their designer names.
    QLabel* Label1;      // "Image"
    QSpinBox* SpinEdit1; // the frame, numbered from 0 as the builds number them
    QLabel* Label2;      // "Strongest line"
    QLabel* Label3;      // "Displacement"
    PictureBox* Image1;  // the strongest line pair of each pixel
    PictureBox* Image2;  // the displacement heat map
    QScrollArea* ScrollBox1;

    // Returns true while the pictures must not be computed (a warped build is running).
    std::function<bool()> busy;

    // Shows the frames of `build`, the chosen frame kept where it still is one, and the
    // window on top.
    void Open(std::shared_ptr<const WarpedBuildInputs> build);
    // Shows the frames of `build` again, with the chosen frame kept where it still is one.
    void ShowBuild(std::shared_ptr<const WarpedBuildInputs> build);
    // The inputs shown.
    const WarpedBuildInputs* Build() const { return build_.get(); }

    // A new frame chosen: both pictures computed again.
    void SpinEdit1Change(int frame);

  private:
    void ShowFrame(int frame);
    // Sizes the controls and the window for pictures of width x height.
    void Arrange(int width, int height);

    QWidget* content_;
    std::shared_ptr<const WarpedBuildInputs> build_;
};

} // namespace morph
