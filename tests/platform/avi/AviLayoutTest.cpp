// The saving layout on its own: the order of the chunks, and where the RIFF limit splits a
// file into RIFF 'AVI ' and 'AVIX' parts with their indexes. The limit is small here, so the
// byte counts can be worked out by hand (AviFileTest saves such a file and reads it back).
#include "platform/avi/AviLayout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace morph {
namespace {

using avi::Layout;
using avi::PlanLayout;
using avi::SaveStream;

// A video stream of frames of the given sizes, `rate` / `scale` frames a second, with a
// 40-byte frame format.
SaveStream Video(const std::vector<std::uint32_t>& frameBytes, std::uint32_t scale = 1,
                 std::uint32_t rate = 1, std::uint32_t flags = AVIIF_KEYFRAME) {
    SaveStream stream;
    stream.data.info.fccType = streamtypeVIDEO;
    stream.data.info.dwScale = scale;
    stream.data.info.dwRate = rate;
    stream.data.format.assign(sizeof(BitmapInfoHeader), 0);
    stream.data.format[0] = 40;
    for (const std::uint32_t size : frameBytes) {
        stream.data.pieces.push_back({stream.data.bytes, size, flags});
        stream.data.bytes += size;
    }
    return stream;
}

// A sound stream of `bytes` bytes in blocks of `block`, `bytesPerSecond` a second, in one
// piece, with a 16-byte format.
SaveStream Sound(std::uint32_t bytesPerSecond, std::uint32_t block, std::uint32_t bytes) {
    SaveStream stream;
    stream.data.info.fccType = streamtypeAUDIO;
    stream.data.info.dwScale = block;
    stream.data.info.dwRate = bytesPerSecond;
    stream.data.info.dwSampleSize = block;
    stream.data.format.assign(16, 0);
    stream.data.pieces.push_back({0, bytes, AVIIF_KEYFRAME});
    stream.data.bytes = bytes;
    return stream;
}

std::vector<avi::Chunk> Chunks(std::vector<SaveStream>& streams) {
    avi::PrepareStreams(streams);
    return avi::Interleave(streams);
}

TEST(AviLayout, ChunksGoBySecondWithSoundFirstAndRunsOfAtMostFourMebibytes) {
    const std::uint32_t kFrame = 100;
    const struct Case {
        const char* what;
        std::vector<SaveStream> streams;
        std::string order;                     // the stream of each chunk
        std::vector<std::uint32_t> soundBytes; // the sizes of the sound chunks, in order
    } cases[] = {
        {"5 frames a second, 1.5 s of sound",
         {Video(std::vector<std::uint32_t>(12, kFrame), 1, 5), Sound(8000, 1, 12000)},
         "10000010000000",
         {8000, 4000}},
        {"a frame every 0.3 s, 2 s of 16-bit stereo",
         {Sound(32000, 4, 64000), Video(std::vector<std::uint32_t>(8, kFrame), 3, 10)},
         "0111101111",
         {32000, 32000}},
        {"sound going on after the last frame, half a second at the end",
         {Video({kFrame, kFrame}), Sound(10, 1, 35)},
         "101011",
         {10, 10, 10, 5}},
        {"two sound streams, both before the pictures, in stream order",
         {Video({kFrame, kFrame}), Sound(10, 1, 20), Sound(20, 2, 40)},
         "120120",
         {10, 20, 10, 20}},
        {"a second of sound larger than a run: 4 MiB and the rest",
         {Sound(5 << 20, 4, 5 << 20), Video({kFrame})},
         "001",
         {4 << 20, 1 << 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<SaveStream> streams = c.streams;
        const std::vector<avi::Chunk> chunks = Chunks(streams);
        std::string order;
        std::vector<std::uint32_t> soundBytes;
        std::vector<std::uint64_t> next(streams.size(), 0); // where each stream's next chunk starts
        for (const avi::Chunk& chunk : chunks) {
            order += char('0' + chunk.stream);
            const avi::StreamData& data = streams[chunk.stream].data;
            EXPECT_EQ(chunk.flags, AVIIF_KEYFRAME);
            if (data.info.dwSampleSize == 0) {
                EXPECT_EQ(chunk.size, kFrame);
                EXPECT_EQ(chunk.samples, 1u);
                EXPECT_EQ(chunk.from, next[chunk.stream]++);
            } else {
                soundBytes.push_back(chunk.size);
                EXPECT_EQ(chunk.samples, chunk.size / data.info.dwSampleSize);
                EXPECT_EQ(chunk.from, next[chunk.stream]);
                next[chunk.stream] += chunk.size;
            }
        }
        EXPECT_EQ(order, c.order);
        EXPECT_EQ(soundBytes, c.soundBytes);
    }

    // Only the key-frame flag of a frame goes into the index.
    std::vector<SaveStream> flagged = {Video({kFrame}, 1, 1, AVIIF_KEYFRAME | 0x100),
                                       Video({kFrame}, 1, 1, 0x100)};
    const std::vector<avi::Chunk> chunks = Chunks(flagged);
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].flags, AVIIF_KEYFRAME);
    EXPECT_EQ(chunks[1].flags, 0u);
    EXPECT_EQ(flagged[0].chunkId, MakeFourCC('0', '0', 'd', 'b'));
    EXPECT_EQ(flagged[1].indexId, MakeFourCC('i', 'x', '0', '1'));
}

struct ExpectedRiff {
    std::size_t end; // one past its last chunk
    std::uint64_t start;
    std::uint64_t size;
    std::vector<std::uint32_t> indexEntries;
    std::vector<std::uint64_t> indexStart;
};

// Byte counts for the cases below, one video stream of 100-byte frames:
//   LIST 'hdrl' 200 bytes: 12 + avih 8 + 56 + LIST 'strl' (12 + strh 8 + 56 + strf 8 + 40);
//   OpenDML adds an indx of 32 + 16 per RIFF reserved and LIST 'odml' of 268: 500 + 16 r.
//   One RIFF: RIFF 12 + hdrl + movi 12 + idx1 8 + 16 a chunk, and 108 a chunk.
//   OpenDML, RIFF 'AVI ': 12 + hdrl + movi 12 + idx1 8; a chunk 108 + 8 (ix00) + 16 (idx1);
//     ix00 32 for the first chunk of a stream. RIFF 'AVIX': 24; a chunk 116; ix00 32.
TEST(AviLayout, TheRiffLimitSplitsTheFileWhereTheNextChunkWouldPassIt) {
    const std::vector<std::uint32_t> tenFrames(10, 100);
    const struct Case {
        const char* what;
        std::vector<SaveStream> streams;
        std::uint64_t limit;
        bool openDml;
        std::uint64_t indxEntries;
        std::vector<ExpectedRiff> riffs;
    } cases[] = {
        {"one RIFF of exactly the limit",
         {Video(tenFrames)},
         1472,
         false,
         0,
         {{10, 0, 1472, {}, {}}}},
        // With one RIFF reserved in the indx the first RIFF would take 6 frames; the second
        // entry moves its chunks by 16 bytes and 6 still fit: 564 + 164 + 5 * 132.
        {"one byte less: a second RIFF",
         {Video(tenFrames)},
         1471,
         true,
         2,
         {{6, 0, 1388, {6}, {1204}}, {10, 1388, 520, {4}, {1844}}}},
        {"the first RIFF filled to the byte",
         {Video(tenFrames)},
         1388,
         true,
         2,
         {{6, 0, 1388, {6}, {1204}}, {10, 1388, 520, {4}, {1844}}}},
        {"one byte less: the sixth frame starts the AVIX",
         {Video(tenFrames)},
         1387,
         true,
         2,
         {{5, 0, 1256, {5}, {1096}}, {10, 1256, 636, {5}, {1820}}}},
        // Video (strl 124 bytes) and 10 bytes of sound in the first second (strl 100 bytes):
        // hdrl 632 + 32 r. The sound has no chunk in the AVIX, so no ix01 there.
        {"sound only in the first RIFF",
         {Video({100, 100, 100, 100, 100, 100}), Sound(10, 1, 10)},
         1100,
         true,
         2,
         {{3, 0, 1098, {2, 1}, {954, 1002}}, {7, 1098, 520, {4, 0}, {1554, 0}}}},
        // A frame larger than the limit gets a RIFF to itself, and the next frame a new one;
        // three RIFFs need three indx entries.
        {"a frame alone larger than the limit",
         {Video({100, 3000, 100, 100})},
         1000,
         true,
         3,
         {{1, 0, 744, {1}, {680}}, {2, 744, 3072, {1}, {3776}}, {4, 3816, 288, {2}, {4056}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<SaveStream> streams = c.streams;
        const std::vector<avi::Chunk> chunks = Chunks(streams);
        const Layout layout = PlanLayout(streams, chunks, c.limit);
        EXPECT_EQ(layout.openDml, c.openDml);
        EXPECT_EQ(layout.indxEntries, c.indxEntries);
        EXPECT_EQ(layout.hdrlBytes,
                  avi::HdrlBytes(streams, c.openDml, c.indxEntries)); // what the saver writes
        ASSERT_EQ(layout.riffs.size(), c.riffs.size());
        std::size_t first = 0;
        for (std::size_t r = 0; r < c.riffs.size(); ++r) {
            SCOPED_TRACE(r);
            const avi::Riff& riff = layout.riffs[r];
            const ExpectedRiff& want = c.riffs[r];
            EXPECT_EQ(riff.first, first);
            EXPECT_EQ(riff.end, want.end);
            EXPECT_EQ(riff.start, want.start);
            EXPECT_EQ(riff.size, want.size);
            if (c.openDml) {
                EXPECT_EQ(riff.indexEntries, want.indexEntries);
                EXPECT_EQ(riff.indexStart, want.indexStart);
            }
            first = riff.end;
        }
    }
    EXPECT_EQ(avi::IxBytes(0), 32u);
    EXPECT_EQ(avi::IxBytes(6), 80u);
}

TEST(AviLayout, TheDefaultLimitIsOneGibibyte) {
    // 1023 frames of 1 MiB and their headers and index entries fit in one RIFF, 1024 do not;
    // then the first RIFF still takes 1023 of them.
    std::vector<SaveStream> streams = {Video(std::vector<std::uint32_t>(1023, 1 << 20))};
    EXPECT_FALSE(PlanLayout(streams, Chunks(streams)).openDml);
    streams = {Video(std::vector<std::uint32_t>(1024, 1 << 20))};
    const Layout layout = PlanLayout(streams, Chunks(streams));
    EXPECT_TRUE(layout.openDml);
    ASSERT_EQ(layout.riffs.size(), 2u);
    EXPECT_LE(layout.riffs[0].size, avi::kRiffLimit);
    EXPECT_EQ(layout.riffs[0].end, 1023u);
}

} // namespace
} // namespace morph
