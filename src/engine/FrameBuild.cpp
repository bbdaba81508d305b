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
    return BuildMorphFrames(in, settings, 0, settings.frames - 1, progress);
}

MorphSequence BuildMorphFrames(const MorphInputs& in, const MorphSettings& settings, int first,
                               int last, const BuildProgress& progress) {
    CheckMorphInputs(in, settings);
    const int frames = settings.frames;
    const double step = FrameStep(frames);
    if (first < 0 || first > last || last >= frames) {
        throw MorphError("Frames " + std::to_string(first) + " to " + std::to_string(last) +
                         " are not frames of a morph of " + std::to_string(frames) + " frames");
    }
    const int width = in.source.width();
    const int height = in.source.height();
    const std::size_t count = std::size_t(last - first + 1);
    const bool withSource = first == 0;
    const bool withTarget = last == frames - 1;

    MorphSequence seq;
    seq.lines = BuildFrameLineSets(in.sourceLines, in.targetLines, step, in.sourceCount,
                                   settings.mode, frames, width, height);
    seq.blends.assign(count, Bitmap(width, height));
    if (withSource) {
        seq.blends.front() = in.source;
    }
    if (withTarget) {
        seq.blends.back() = in.target;
    }
    Bitmap scratchSource;
    Bitmap scratchTarget;
    if (settings.keepWarped) {
        seq.warpedSource.assign(count, Bitmap(width, height));
        seq.warpedTarget.assign(count, Bitmap(width, height));
        if (withSource) {
            seq.warpedSource.front() = in.source;
        }
        if (withTarget) {
            seq.warpedTarget.back() = in.target;
        }
    }
    // Frame 0 is written into the picture that serves as the Source of every frame, and the
    // last frame into the Target's: both map every pixel onto itself, so frames built without
    // them read the pictures as given and come out the same.
    const Bitmap& source = withSource ? seq.blends.front() : in.source;
    const Bitmap& target = withTarget ? seq.blends.back() : in.target;

    const WarpConstants constants =
        settings.readConstants ? settings.readConstants() : settings.constants;
    bool cancelled = false;
    // t is summed from frame 0 on, never multiplied out: k * step can differ from the sum in
    // its last bit, and that bit can turn a blend or a line end from one side of a tie to the
    // other.
    double t = 0;
    for (int k = 0; k <= last; ++k) {
        if (k >= first) {
            const std::size_t frame = std::size_t(k - first);
            WarpControl control;
            control.refreshStep = settings.refreshStep;
            control.method = settings.method;
            if (progress) {
                control.progress = [&](int column) {
                    cancelled = cancelled || progress(k, column);
                    return cancelled;
                };
            }
            const WarpOutputs out{seq.blends[frame],
                                  settings.keepWarped ? seq.warpedSource[frame] : scratchSource,
                                  settings.keepWarped ? seq.warpedTarget[frame] : scratchTarget};
            const WarpInputs warpIn{source,
                                    target,
                                    seq.lines.front(),
                                    seq.lines.back(),
                                    seq.lines[std::size_t(k)],
                                    in.sourceCount,
                                    t,
                                    settings.warpOptions};
            WarpFrame(out, warpIn, constants, control, settings.threads);
        }
        t = t + step;
    }
    return seq;
}

} // namespace morph
