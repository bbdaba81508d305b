#include "engine/FrameBuild.h"

#include "platform/MorphError.h"

#include <string>

namespace morph {

void CheckLinesAndPictures(const MorphInputs& in) {
    if (in.sourceCount != in.targetCount) {
        throw MorphError(kDifferentLineCounts);
    }
    if (in.sourceCount == 0) {
        throw MorphError(kNoLines);
    }
    if (in.sourceCount < 0 || in.sourceCount > MaxLines) {
        throw MorphError("A side can hold at most " + std::to_string(MaxLines) + " lines");
    }
    if (!in.source.sameSize(in.target)) {
        throw MorphError(kDifferentSizes);
    }
}

void CheckMorphInputs(const MorphInputs& in, const MorphSettings& settings) {
    CheckLinesAndPictures(in);
    if (settings.frames < 1) {
        throw MorphError("A morph needs at least 2 frames; " + std::to_string(settings.frames) +
                         " frames cannot be built");
    }
    if (settings.refreshStep == 0) {
        throw MorphError(kIntDivideByZero);
    }
    if (settings.refreshStep < 0) {
        throw MorphError("The refresh rate must be a whole number of at least 1, not " +
                         std::to_string(settings.refreshStep));
    }
}

MorphSequence BuildMorph(const MorphInputs& in, const MorphSettings& settings,
                         const BuildProgress& progress) {
    CheckMorphInputs(in, settings);
    const int frames = settings.frames;
    const double step = FrameStep(frames);
    const int width = in.source.width();
    const int height = in.source.height();

    MorphSequence seq;
    seq.lines = BuildFrameLineSets(in.sourceLines, in.targetLines, step, in.sourceCount,
                                   settings.mode, frames, width, height);
    seq.blends.assign(std::size_t(frames), Bitmap(width, height));
    seq.blends.front() = in.source;
    seq.blends.back() = in.target;
    Bitmap scratchSource;
    Bitmap scratchTarget;
    if (settings.keepWarped) {
        seq.warpedSource.assign(std::size_t(frames), Bitmap(width, height));
        seq.warpedTarget.assign(std::size_t(frames), Bitmap(width, height));
        seq.warpedSource.front() = in.source;
        seq.warpedTarget.back() = in.target;
    }

    const WarpConstants constants =
        settings.readConstants ? settings.readConstants() : settings.constants;
    bool cancelled = false;
    double t = 0;
    for (int k = 0; k < frames; ++k) {
        const std::size_t frame = std::size_t(k);
        WarpControl control;
        control.refreshStep = settings.refreshStep;
        control.method = settings.method;
        if (progress) {
            control.progress = [&](int column) {
                cancelled = cancelled || progress(k, column);
                return cancelled;
            };
        }
        // Frame 0 is written into the picture that serves as the Source of every frame, and
        // the last frame into the Target's: both map every pixel onto itself.
        const WarpOutputs out{seq.blends[frame],
                              settings.keepWarped ? seq.warpedSource[frame] : scratchSource,
                              settings.keepWarped ? seq.warpedTarget[frame] : scratchTarget};
        const WarpInputs warpIn{seq.blends.front(),
                                seq.blends.back(),
                                seq.lines.front(),
                                seq.lines.back(),
                                seq.lines[frame],
                                in.sourceCount,
                                t};
        WarpFrame(out, warpIn, constants, control, settings.threads);
        t = t + step;
    }
    return seq;
}

} // namespace morph
