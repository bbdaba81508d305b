#include "engine/FrameBuild.h"

#include "platform/MorphError.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

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

int StreamedFrameBuffers(int threads, bool prepared) {
    // One frame being delivered, one whose bands are being warped and one more for the
    // threads that finish the last bands of a frame while others start the next; a thread
    // preparing a frame holds it as well.
    return 3 + (prepared ? std::max(threads, 1) : 0);
}

namespace {

// One frame buffer of a streamed build and the frame it holds.
struct StreamSlot {
    Bitmap blend;
    int frame = -1;
    LineSet lines{};
    std::unique_ptr<BandWarp> warp;
    std::exception_ptr error; // of the set-up, of a band or of `prepare`
    std::atomic<int> bandsLeft{0};
    std::mutex faultMutex;          // guards the two below while bands run
    std::optional<BandFault> fault; // the one of the smallest key
    std::exception_ptr bandError;   // anything else a band raised
    bool done = false;              // guarded by the build's mutex
};

class StreamedBuild {
  public:
    StreamedBuild(const MorphInputs& in, const MorphSettings& settings, FrameRange range,
                  const FrameStream& stream, double step, const WarpConstants& constants)
        : in_(in), settings_(settings), stream_(stream), step_(step), constants_(constants),
          first_(range.first), count_(range.last - range.first + 1),
          threads_(WarpThreadCount(settings.threads)),
          slots_(std::size_t(StreamedFrameBuffers(threads_, bool(stream.prepare)))) {
        // t of the first frame, accumulated as the whole sequence does.
        for (int k = 0; k < first_; ++k) {
            tNext_ = tNext_ + step_;
        }
        if (settings.method == WarpMethod::Reference) {
            bandsPerFrame_ = 1;
        } else {
            bandsPerFrame_ = std::max(1, (in.source.height() + kBandRows - 1) / kBandRows);
        }
    }

    void Run() {
        std::thread workers([this] { Work(); });
        try {
            Deliver();
        } catch (...) {
            Stop();
            workers.join();
            throw;
        }
        workers.join();
    }

  private:
    StreamSlot& SlotOf(int index) { return slots_[std::size_t(index) % slots_.size()]; }

    void Stop() {
        stopping_.store(true, std::memory_order_relaxed);
        const std::lock_guard lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }

    // The calling thread: every frame in order to `deliver`, then its buffer is free again.
    void Deliver() {
        for (int index = 0; index < count_; ++index) {
            StreamSlot& slot = SlotOf(index);
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return slot.frame == first_ + index && slot.done; });
            }
            if (slot.error) {
                std::rethrow_exception(slot.error);
            }
            if (slot.fault) {
                throw MorphError(slot.fault->message);
            }
            stream_.deliver(slot.frame, slot.blend);
            if (stream_.progress) {
                stream_.progress(index + 1, count_);
            }
            const std::lock_guard lock(mutex_);
            released_ = index + 1;
            changed_.notify_all();
        }
    }

    // One parallel region for the whole build: every thread takes the next task (a band of
    // the earliest frame not yet taken) until none is left.
    void Work() {
        const std::int64_t tasks = std::int64_t(count_) * bandsPerFrame_;
#pragma omp parallel num_threads(threads_)
        {
            for (;;) {
                const std::int64_t task = nextTask_.fetch_add(1, std::memory_order_relaxed);
                if (task >= tasks || stopping_.load(std::memory_order_relaxed)) {
                    break;
                }
                const int index = int(task / bandsPerFrame_);
                if (!SetUpThrough(index)) {
                    break;
                }
                RunTask(SlotOf(index), int(task % bandsPerFrame_));
            }
        }
    }

    // Makes sure frames up to `index` of the range are set up, in order (t accumulates), each
    // as soon as its buffer is free. False when the build stops.
    bool SetUpThrough(int index) {
        std::unique_lock lock(mutex_);
        while (setUp_ <= index) {
            if (stop_) {
                return false;
            }
            if (settingUp_ || setUp_ >= released_ + int(slots_.size())) {
                changed_.wait(lock);
                continue;
            }
            settingUp_ = true;
            const int next = setUp_;
            const double t = tNext_;
            // Deliver reads these two under the lock; were they written outside it, it could
            // see the new frame number beside the old frame's "done" and hand over the old
            // pixels.
            StreamSlot& slot = SlotOf(next);
            slot.done = false;
            slot.frame = first_ + next;
            lock.unlock();
            SetUp(slot, first_ + next, t);
            lock.lock();
            tNext_ = tNext_ + step_;
            setUp_ = next + 1;
            settingUp_ = false;
            changed_.notify_all();
        }
        return !stop_;
    }

    void SetUp(StreamSlot& slot, int frame, double t) {
        slot.warp.reset();
        slot.error = nullptr;
        slot.fault.reset();
        slot.bandError = nullptr;
        slot.bandsLeft.store(bandsPerFrame_, std::memory_order_relaxed);
        try {
            const int width = in_.source.width();
            const int height = in_.source.height();
            if (slot.blend.width() != width || slot.blend.height() != height) {
                slot.blend = Bitmap(width, height);
            }
            slot.lines = BuildFrameLineSet(in_.sourceLines, in_.targetLines, t, in_.sourceCount,
                                           settings_.mode, frame, settings_.frames, width, height);
            const WarpInputs warpIn{
                in_.source,      in_.target, in_.sourceLines,      in_.targetLines, slot.lines,
                in_.sourceCount, t,          settings_.warpOptions};
            slot.warp =
                std::make_unique<BandWarp>(warpIn, constants_, settings_.method, slot.blend);
        } catch (...) {
            slot.error = std::current_exception();
        }
    }

    void RunTask(StreamSlot& slot, int band) {
        if (!slot.error) {
            try {
                if (std::optional<BandFault> fault = slot.warp->RunBand(band)) {
                    const std::lock_guard lock(slot.faultMutex);
                    if (!slot.fault || fault->key < slot.fault->key) {
                        slot.fault = std::move(fault);
                    }
                }
            } catch (...) {
                const std::lock_guard lock(slot.faultMutex);
                if (!slot.bandError) {
                    slot.bandError = std::current_exception();
                }
            }
        }
        if (slot.bandsLeft.fetch_sub(1, std::memory_order_acq_rel) != 1) {
            return;
        }
        // The frame's last band: every other band's writes are visible here.
        if (!slot.error && slot.bandError) {
            slot.error = slot.bandError;
        }
        if (slot.error || slot.fault) {
            // Nothing after this frame is needed.
            stopping_.store(true, std::memory_order_relaxed);
        } else if (stream_.prepare) {
            try {
                stream_.prepare(slot.frame, slot.blend);
            } catch (...) {
                slot.error = std::current_exception();
                stopping_.store(true, std::memory_order_relaxed);
            }
        }
        const std::lock_guard lock(mutex_);
        slot.done = true;
        changed_.notify_all();
    }

    const MorphInputs& in_;
    const MorphSettings& settings_;
    const FrameStream& stream_;
    const double step_;
    const WarpConstants constants_;
    const int first_;
    const int count_;
    const int threads_;
    int bandsPerFrame_ = 1;
    std::vector<StreamSlot> slots_;
    std::atomic<std::int64_t> nextTask_{0};
    std::atomic<bool> stopping_{false}; // a frame failed: no new tasks

    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;      // the calling thread stopped
    int setUp_ = 0;          // frames of the range set up
    bool settingUp_ = false; // a thread is setting up frame setUp_
    double tNext_ = 0;       // t of frame setUp_
    int released_ = 0;       // frames of the range delivered
};

} // namespace

void StreamMorph(const MorphInputs& in, const MorphSettings& settings, FrameRange range,
                 const FrameStream& stream) {
    CheckMorphInputs(in, settings);
    const int frames = settings.frames;
    const double step = FrameStep(frames);
    const int last = range.last < 0 ? frames - 1 : range.last;
    if (range.first < 0 || range.first > last || last > frames - 1) {
        throw MorphError("Frames " + std::to_string(range.first) + " to " + std::to_string(last) +
                         " are not frames of a morph of " + std::to_string(frames) + " frames");
    }
    // The line sets of every frame are made once first, so that their errors come before
    // those of A, B and P as in BuildMorph; each frame makes its own again when it is warped.
    {
        double t = step;
        for (int k = 1; k <= frames - 2; ++k) {
            (void)BuildFrameLineSet(in.sourceLines, in.targetLines, t, in.sourceCount,
                                    settings.mode, k, frames, in.source.width(),
                                    in.source.height());
            t = t + step;
        }
    }
    const WarpConstants constants =
        settings.readConstants ? settings.readConstants() : settings.constants;
    if (stream.begin) {
        stream.begin();
    }
    StreamedBuild build(in, settings, {range.first, last}, stream, step, constants);
    build.Run();
}

} // namespace morph
