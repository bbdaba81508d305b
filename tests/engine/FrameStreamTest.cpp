// The streamed frame build against the whole build: the same frames for any thread count and
// range, in order, and the same first error.
#include "engine/FrameBuild.h"
#include "platform/MorphError.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace morph {
namespace {

Bitmap Pattern(int w, int h, int seed) {
    Bitmap b(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            b.setPixel(x, y,
                       RGB(std::uint8_t(x * 5 + seed), std::uint8_t(y * 3 + seed),
                           std::uint8_t((x * y) ^ seed)));
        }
    }
    return b;
}

struct Streamed {
    std::vector<int> order;
    std::vector<Bitmap> frames;
    std::vector<int> progress;
    std::atomic<int> prepared{0};
    std::string error;
};

void Stream(const MorphInputs& in, const MorphSettings& settings, FrameRange range, Streamed& out,
            const std::function<void(int)>& onDeliver = {}) {
    FrameStream stream;
    stream.prepare = [&](int, const Bitmap&) { ++out.prepared; };
    stream.deliver = [&](int frame, const Bitmap& blend) {
        out.order.push_back(frame);
        out.frames.push_back(blend);
        if (onDeliver) {
            onDeliver(frame);
        }
    };
    stream.progress = [&](int done, int total) { out.progress.push_back(done * 1000 + total); };
    try {
        StreamMorph(in, settings, range, stream);
    } catch (const MorphError& e) {
        out.error = e.what();
    }
}

// Pictures taller than a band, several frames in flight at once, ranges anywhere in the
// sequence: each delivered frame is the whole build's frame of that index.
TEST(FrameStream, DeliversTheWholeBuildsFramesInOrderOnAnyThreadCount) {
    const Bitmap source = Pattern(37, 2 * kBandRows + 9, 1);
    const Bitmap target = Pattern(37, 2 * kBandRows + 9, 90);
    LineSet from{}, to{};
    from[0] = {3, 5, 30, 8};
    to[0] = {6, 2, 25, 40};
    from[1] = {10, 100, 12, 60};
    to[1] = {20, 110, 5, 70};
    const MorphInputs in{source, target, from, 2, to, 2};
    for (const WarpMethod method : {WarpMethod::Fast, WarpMethod::Reference}) {
        MorphSettings settings;
        settings.frames = method == WarpMethod::Fast ? 11 : 4;
        settings.constants = {1.0, 1.5, 0.5};
        settings.method = method;
        const std::vector<Bitmap> whole = BuildMorph(in, settings).blends;
        const int last = settings.frames - 1;
        for (const FrameRange range : {FrameRange{}, FrameRange{2, 3}, FrameRange{last, last}}) {
            for (const int threads : {1, 2, 5}) {
                SCOPED_TRACE("frames " + std::to_string(range.first) + " to " +
                             std::to_string(range.last) + " on " + std::to_string(threads) +
                             " threads");
                settings.threads = threads;
                Streamed out;
                Stream(in, settings, range, out);
                ASSERT_EQ(out.error, "");
                const int first = range.first;
                const int end = range.last < 0 ? last : range.last;
                const int count = end - first + 1;
                ASSERT_EQ(int(out.frames.size()), count);
                EXPECT_EQ(out.prepared, count);
                for (int i = 0; i < count; ++i) {
                    EXPECT_EQ(out.order[std::size_t(i)], first + i);
                    EXPECT_EQ(out.progress[std::size_t(i)], (i + 1) * 1000 + count);
                    EXPECT_TRUE(out.frames[std::size_t(i)] == whole[std::size_t(first + i)])
                        << "frame " << first + i;
                }
            }
        }
    }
}

// A line that shrinks to nothing in the middle frame: the frames before it are delivered, then
// the run stops with the whole build's message; so does an output that fails, at once.
TEST(FrameStream, StopsAtTheFirstFailingFrameWithItsError) {
    const Bitmap source = Pattern(20, 90, 4);
    const Bitmap target = Pattern(20, 90, 8);
    LineSet from{}, to{};
    from[0] = {2, 10, 18, 10};
    to[0] = {18, 10, 2, 10};
    const MorphInputs in{source, target, from, 1, to, 1};
    MorphSettings settings;
    settings.frames = 5; // frame 2 has both ends at (10, 10)
    std::string whole;
    try {
        BuildMorph(in, settings);
    } catch (const MorphError& e) {
        whole = e.what();
    }
    ASSERT_NE(whole, "");
    for (const int threads : {1, 3}) {
        settings.threads = threads;
        Streamed out;
        Stream(in, settings, {}, out);
        EXPECT_EQ(out.error, whole);
        EXPECT_EQ(out.order, (std::vector<int>{0, 1}));

        Streamed refused;
        Stream(in, settings, {}, refused, [](int frame) {
            if (frame == 0) {
                throw MorphError("Cannot write file 'x.vQv': No space left on device");
            }
        });
        EXPECT_EQ(refused.error, "Cannot write file 'x.vQv': No space left on device");
        EXPECT_EQ(refused.order, (std::vector<int>{0}));
    }
    Streamed outside;
    Stream(in, settings, {3, 5}, outside);
    EXPECT_EQ(outside.error, "Frames 3 to 5 are not frames of a morph of 5 frames");
}

// Many small frames on more threads than cores: a frame's buffer is set up again for a later
// frame while the calling thread waits to deliver, so that a handover outside the build's
// lock shows up as a stale or half-made frame (or a crash) within a few runs.
TEST(FrameStream, BuffersReusedAtSpeedStillHandOverTheirOwnFrame) {
    const Bitmap source = Pattern(24, 24, 3);
    const Bitmap target = Pattern(24, 24, 70);
    LineSet from{}, to{};
    from[0] = {2, 2, 20, 3};
    to[0] = {3, 3, 21, 2};
    from[1] = {4, 12, 18, 10};
    to[1] = {5, 11, 17, 13};
    const MorphInputs in{source, target, from, 2, to, 2};
    MorphSettings settings;
    settings.frames = 400;
    const std::vector<Bitmap> whole = BuildMorph(in, settings).blends;
    settings.threads = 8;
    for (int run = 0; run < 5; ++run) {
        Streamed out;
        Stream(in, settings, {}, out);
        ASSERT_EQ(out.error, "");
        ASSERT_EQ(out.frames, whole) << "run " << run;
    }
}

} // namespace
} // namespace morph
