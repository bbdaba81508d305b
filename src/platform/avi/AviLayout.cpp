#include "platform/avi/AviLayout.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace morph::avi {

namespace {

std::uint32_t TwoDigits(std::size_t n) {
    return std::uint32_t('0' + n / 10) | (std::uint32_t('0' + n % 10) << 8);
}

// The second of playing time in which sample n of a stream starts, and the first sample
// that starts in second g or later.
std::uint64_t SecondOf(std::uint64_t n, const AviStreamInfo& info) {
    return n * info.dwScale / info.dwRate;
}
std::uint64_t FirstSampleOf(std::uint64_t g, const AviStreamInfo& info) {
    return (g * info.dwRate + info.dwScale - 1) / info.dwScale;
}

} // namespace

void PrepareStreams(std::vector<SaveStream>& streams) {
    for (std::size_t s = 0; s < streams.size(); ++s) {
        SaveStream& stream = streams[s];
        const StreamData& data = stream.data;
        std::uint32_t kind = MakeFourCC(0, 0, 'w', 'b');
        if (data.info.fccType == streamtypeVIDEO) {
            BitmapInfoHeader header;
            std::memcpy(&header, data.format.data(), sizeof header);
            kind =
                header.biCompression == 0 ? MakeFourCC(0, 0, 'd', 'b') : MakeFourCC(0, 0, 'd', 'c');
        }
        stream.chunkId = TwoDigits(s) | kind;
        stream.indexId = MakeFourCC('i', 'x', 0, 0) | (TwoDigits(s) << 16);
        stream.length = data.Length();
        std::uint64_t at = 0;
        for (const Piece& piece : data.pieces) {
            stream.pieceStarts.push_back(at);
            at += piece.size;
        }
    }
}

std::vector<Chunk> Interleave(std::vector<SaveStream>& streams) {
    std::vector<std::size_t> order;
    for (std::size_t s = 0; s < streams.size(); ++s) {
        if (streams[s].data.info.dwSampleSize != 0) {
            order.push_back(s);
        }
    }
    for (std::size_t s = 0; s < streams.size(); ++s) {
        if (streams[s].data.info.dwSampleSize == 0) {
            order.push_back(s);
        }
    }

    std::vector<Chunk> chunks;
    std::vector<std::uint64_t> next(streams.size(), 0);
    for (;;) {
        std::uint64_t second = std::numeric_limits<std::uint64_t>::max();
        for (std::size_t s = 0; s < streams.size(); ++s) {
            if (next[s] < streams[s].length) {
                second = std::min(second, SecondOf(next[s], streams[s].data.info));
            }
        }
        if (second == std::numeric_limits<std::uint64_t>::max()) {
            break;
        }
        for (const std::size_t s : order) {
            SaveStream& stream = streams[s];
            const AviStreamInfo& info = stream.data.info;
            while (next[s] < stream.length && SecondOf(next[s], info) == second) {
                Chunk chunk;
                chunk.stream = std::uint32_t(s);
                if (info.dwSampleSize == 0) {
                    const Piece& piece = stream.data.pieces[next[s]];
                    chunk.size = piece.size;
                    chunk.flags = piece.flags & AVIIF_KEYFRAME;
                    chunk.samples = 1;
                    chunk.from = next[s];
                    ++next[s];
                } else {
                    const std::uint64_t end =
                        std::min(stream.length, FirstSampleOf(second + 1, info));
                    const std::uint64_t most =
                        std::max<std::uint64_t>(1, kMaxRunBytes / info.dwSampleSize);
                    const std::uint64_t count = std::min(end - next[s], most);
                    chunk.size = std::uint32_t(count * info.dwSampleSize);
                    chunk.flags = AVIIF_KEYFRAME;
                    chunk.samples = std::uint32_t(count);
                    chunk.from = next[s] * info.dwSampleSize;
                    next[s] += count;
                }
                stream.largestChunk = std::max(stream.largestChunk, chunk.size);
                chunks.push_back(chunk);
            }
        }
    }
    return chunks;
}

std::uint64_t HdrlBytes(const std::vector<SaveStream>& streams, bool openDml,
                        std::uint64_t indxEntries) {
    std::uint64_t bytes = 12 + 8 + kAvihBytes;
    for (const SaveStream& stream : streams) {
        bytes += 12 + 8 + kStrhBytes + 8 + Padded(stream.data.format.size());
        if (openDml) {
            bytes += 8 + kIndexHeaderBytes + kIndxEntryBytes * indxEntries;
        }
    }
    if (openDml) {
        bytes += 12 + 8 + kDmlhBytes;
    }
    return bytes;
}

std::uint64_t IxBytes(std::uint32_t entries) {
    return 8 + kIndexHeaderBytes + kIxEntryBytes * entries;
}

namespace {

// Places the chunks into RIFFs of at most riffLimit bytes; a RIFF takes at least one chunk.
std::vector<Riff> PlaceOpenDml(const std::vector<Chunk>& chunks, std::size_t streamCount,
                               std::uint64_t hdrlBytes, std::uint64_t riffLimit) {
    std::vector<Riff> riffs;
    std::uint64_t pos = 0;
    std::size_t i = 0;
    while (i < chunks.size() || riffs.empty()) {
        const bool first = riffs.empty();
        Riff riff;
        riff.first = i;
        riff.start = pos;
        riff.indexEntries.assign(streamCount, 0);
        std::uint64_t used = 12 + (first ? hdrlBytes + 8 : 0) + 12; // RIFF, hdrl, idx1, movi
        for (; i < chunks.size(); ++i) {
            const Chunk& chunk = chunks[i];
            std::uint64_t cost = 8 + Padded(chunk.size) + kIxEntryBytes;
            if (first) {
                cost += kIdx1EntryBytes;
            }
            if (riff.indexEntries[chunk.stream] == 0) {
                cost += IxBytes(0);
            }
            if (i > riff.first && used + cost > riffLimit) {
                break;
            }
            used += cost;
            ++riff.indexEntries[chunk.stream];
        }
        riff.end = i;
        riff.size = used;
        pos += used;
        riffs.push_back(std::move(riff));
    }
    return riffs;
}

} // namespace

Layout PlanLayout(const std::vector<SaveStream>& streams, const std::vector<Chunk>& chunks,
                  std::uint64_t riffLimit) {
    Layout layout;
    layout.hdrlBytes = HdrlBytes(streams, false, 0);
    std::uint64_t total = 12 + layout.hdrlBytes + 12 + 8 + kIdx1EntryBytes * chunks.size();
    for (const Chunk& chunk : chunks) {
        total += 8 + Padded(chunk.size);
    }
    if (total <= riffLimit) {
        Riff riff;
        riff.end = chunks.size();
        riff.size = total;
        layout.riffs.push_back(std::move(riff));
        return layout;
    }

    // Each stream's indx needs one entry per RIFF, and the indx sizes move the first RIFF's
    // chunks: grow the reserve until the placement fits in it.
    layout.openDml = true;
    for (std::uint64_t reserve = 1;;) {
        layout.indxEntries = reserve;
        layout.hdrlBytes = HdrlBytes(streams, true, reserve);
        layout.riffs = PlaceOpenDml(chunks, streams.size(), layout.hdrlBytes, riffLimit);
        if (layout.riffs.size() <= reserve) {
            break;
        }
        reserve = layout.riffs.size();
    }
    for (std::size_t r = 0; r < layout.riffs.size(); ++r) {
        Riff& riff = layout.riffs[r];
        std::uint64_t pos = riff.start + 12 + (r == 0 ? layout.hdrlBytes : 0) + 12;
        for (std::size_t i = riff.first; i < riff.end; ++i) {
            pos += 8 + Padded(chunks[i].size);
        }
        riff.indexStart.assign(streams.size(), 0);
        for (std::size_t s = 0; s < streams.size(); ++s) {
            if (riff.indexEntries[s] > 0) {
                riff.indexStart[s] = pos;
                pos += IxBytes(riff.indexEntries[s]);
            }
        }
    }
    return layout;
}

} // namespace morph::avi
