// Private to the AVI layer (src/platform/avi/) and its tests: where a save puts every byte.
// The chunks of all streams are interleaved by playing time, then placed into one RIFF 'AVI '
// or, past the RIFF limit, into an OpenDML file of RIFF 'AVI ' and 'AVIX' parts with their
// indexes. The saver writes exactly this plan and checks every position against it.
#pragma once

#include "platform/avi/AviStore.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morph::avi {

// Files are split into RIFF chunks of at most this size; a file that would need more than
// one is written as an OpenDML (AVI 2.0) file.
inline constexpr std::uint64_t kRiffLimit = std::uint64_t(1) << 30;
// Longest run of fixed-size samples in one chunk.
inline constexpr std::uint64_t kMaxRunBytes = std::uint64_t(4) << 20;

inline constexpr std::uint64_t kAvihBytes = 56;
inline constexpr std::uint64_t kStrhBytes = 56;
inline constexpr std::uint64_t kDmlhBytes = 248;
inline constexpr std::uint64_t kIndexHeaderBytes = 24; // after the chunk header, indx and ix##
inline constexpr std::uint64_t kIndxEntryBytes = 16;
inline constexpr std::uint64_t kIxEntryBytes = 8;
inline constexpr std::uint64_t kIdx1EntryBytes = 16;

inline std::uint64_t Padded(std::uint64_t size) {
    return size + (size & 1u);
}

struct SaveStream {
    StreamData data;
    std::uint32_t chunkId = 0;
    std::uint32_t indexId = 0;
    std::uint64_t length = 0;
    std::uint32_t largestChunk = 0;
    std::vector<std::uint64_t> pieceStarts; // byte position of each piece in the stream
};

struct Chunk {
    std::uint32_t stream = 0;
    std::uint32_t size = 0;
    std::uint32_t flags = 0;
    std::uint32_t samples = 0;
    std::uint64_t from = 0; // piece index, or byte position for runs of fixed-size samples
};

struct Riff {
    std::size_t first = 0; // chunk range
    std::size_t end = 0;
    std::uint64_t start = 0;                 // file position of its header
    std::uint64_t size = 0;                  // with its header
    std::vector<std::uint32_t> indexEntries; // ix## entries per stream
    std::vector<std::uint64_t> indexStart;   // file position of each stream's ix##
};

struct Layout {
    bool openDml = false;
    std::uint64_t indxEntries = 0; // reserved in each stream's indx
    std::uint64_t hdrlBytes = 0;   // the whole LIST 'hdrl'
    std::vector<Riff> riffs;
};

// Gives each stream its chunk and index ids ("00db", "01wb", "ix00", ...), its length and
// the byte position of each of its pieces.
void PrepareStreams(std::vector<SaveStream>& streams);

// Orders the chunks of all streams by the second in which they start playing; within a
// second, sound comes before pictures so that players have it ready. Sets each stream's
// largestChunk.
std::vector<Chunk> Interleave(std::vector<SaveStream>& streams);

// The size of the LIST 'hdrl', and of one ix## chunk with its header.
std::uint64_t HdrlBytes(const std::vector<SaveStream>& streams, bool openDml,
                        std::uint64_t indxEntries);
std::uint64_t IxBytes(std::uint32_t entries);

// Places the chunks: one RIFF when the whole file fits in `riffLimit` bytes, else RIFFs of
// at most `riffLimit` bytes each (a chunk larger than that gets a RIFF of its own).
Layout PlanLayout(const std::vector<SaveStream>& streams, const std::vector<Chunk>& chunks,
                  std::uint64_t riffLimit = kRiffLimit);

// Writes the streams into `path` through a temporary beside it (AviSave.cpp). Throws what
// the output throws, and ReadBackFailure when a store cannot be read.
AviResult SaveAvi(const std::string& path, std::vector<SaveStream>& streams,
                  std::uint64_t riffLimit = kRiffLimit);

// AVISaveV with another RIFF limit, so that tests can see the OpenDML layout on small files
// (AviFile.cpp).
AviResult SaveStreams(const std::string& path, int streamCount, AviStream* const* streams,
                      std::uint64_t riffLimit);

} // namespace morph::avi
