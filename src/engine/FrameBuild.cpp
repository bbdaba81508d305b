#include "engine/FrameBuild.h"

#include "platform/MorphError.h"

#include <string>

namespace morph {

void CheckLinesAndPictures(const Bitmap& source, const Bitmap& target, int sourceCount,
                           int targetCount) {
    if (sourceCount != targetCount) {
        throw MorphError(kDifferentLineCounts);
    }
    if (sourceCount == 0) {
        throw MorphError(kNoLines);
    }
    if (sourceCount < 0 || sourceCount > MaxLines) {
        throw MorphError("A side can hold at most " + std::to_string(MaxLines) + " lines");
    }
    if (!source.sameSize(target)) {
        throw MorphError(kDifferentSizes);
    }
}

void CheckMorphInputs(const Bitmap& source, const Bitmap& target, int sourceCount, int targetCount,
                      const MorphSettings& settings) {
    CheckLinesAndPictures(source, target, sourceCount, targetCount);
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

MorphSequence BuildMorph(const Bitmap& source, const Bitmap& target, const LineSet& sourceLines,
                         int sourceCount, const LineSet& targetLines, int targetCount,
                         const MorphSettings& settings, const BuildProgress& progress) {
    CheckMorphInputs(source, target, sourceCount, targetCount, settings);
    const int frames = settings.frames;
    const double step = FrameStep(frames);

    MorphSequence seq;
    seq.lines = BuildFrameLineSets(sourceLines, targetLines, step, sourceCount, settings.mode,
                                   frames, source.width(), source.height());
    seq.blends.assign(std::size_t(frames), Bitmap(source.width(), source.height()));
    seq.blends.front() = source;
    seq.blends.back() = target;
    Bitmap scratchSource;
    Bitmap scratchTarget;
    if (settings.keepWarped) {
        seq.warpedSource.assign(std::size_t(frames), Bitmap(source.width(), source.height()));
        seq.warpedTarget.assign(std::size_t(frames), Bitmap(source.width(), source.height()));
        seq.warpedSource.front() = source;
        seq.warpedTarget.back() = target;
    }

    const WarpConstants constants =
        settings.readConstants ? settings.readConstants() : settings.constants;
    bool cancelled = false;
    double t = 0;
    for (int k = 0; k < frames; ++k) {
        WarpControl control;
        control.refreshStep = settings.refreshStep;
        control.threads = settings.threads;
        if (progress) {
            control.progress = [&](int column) {
                cancelled = cancelled || progress(k, column);
                return cancelled;
            };
        }
        // Frame 0 is written into the picture that serves as the Source of every frame, and
        // the last frame into the Target's: both map every pixel onto itself.
        Bitmap& warpedS = settings.keepWarped ? seq.warpedSource[std::size_t(k)] : scratchSource;
        Bitmap& warpedT = settings.keepWarped ? seq.warpedTarget[std::size_t(k)] : scratchTarget;
        WarpFrame(seq.blends.front(), seq.blends.back(), seq.blends[std::size_t(k)], warpedS,
                  warpedT, seq.lines.front(), seq.lines.back(), seq.lines[std::size_t(k)],
                  sourceCount - 1, t, constants, control);
        t = t + step;
    }
    return seq;
}

} // namespace morph
