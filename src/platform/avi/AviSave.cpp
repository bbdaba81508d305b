// Writing a saved file: the headers, the chunks copied from their stores, and the indexes,
// at the positions the layout planned.
#include "platform/avi/AviLayout.h"

#include "platform/AtomicFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace morph::avi {

namespace {

constexpr std::size_t kCopyBlock = std::size_t(1) << 20;

constexpr std::uint32_t AVIF_HASINDEX = 0x10;
constexpr std::uint32_t AVIF_ISINTERLEAVED = 0x100;
constexpr std::uint8_t AVI_INDEX_OF_INDEXES = 0;
constexpr std::uint8_t AVI_INDEX_OF_CHUNKS = 1;
constexpr std::uint32_t kNotKeyFrame = 0x80000000u;

// The output through a temporary beside it, with the write position.
class Sink {
  public:
    explicit Sink(const std::string& path) : file_(path) { buffer_.reserve(2 * kCopyBlock); }

    std::uint64_t Position() const { return written_ + buffer_.size(); }

    void U8(std::uint8_t v) { buffer_.push_back(v); }
    void U16(std::uint16_t v) {
        U8(std::uint8_t(v));
        U8(std::uint8_t(v >> 8));
    }
    void U32(std::uint32_t v) {
        U16(std::uint16_t(v));
        U16(std::uint16_t(v >> 16));
    }
    void U64(std::uint64_t v) {
        U32(std::uint32_t(v));
        U32(std::uint32_t(v >> 32));
    }
    void Zeros(std::uint64_t n) { buffer_.insert(buffer_.end(), std::size_t(n), 0); }
    void Bytes(const std::vector<std::uint8_t>& bytes) {
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    }
    void ChunkHeader(std::uint32_t id, std::uint64_t size) {
        U32(id);
        U32(std::uint32_t(size));
    }
    void ListHeader(std::uint32_t list, std::uint64_t size, std::uint32_t type) {
        ChunkHeader(list, size);
        U32(type);
    }

    // Appends `size` bytes of a store, in blocks.
    void Copy(const SampleStore& store, std::uint64_t offset, std::uint64_t size) {
        while (size > 0) {
            const std::size_t take = std::size_t(std::min<std::uint64_t>(size, kCopyBlock));
            const std::size_t at = buffer_.size();
            buffer_.resize(at + take);
            if (store.Read(offset, buffer_.data() + at, take) != ReadStatus::Ok) {
                throw ReadBackFailure{};
            }
            offset += take;
            size -= take;
            FlushIfFull();
        }
    }

    void FlushIfFull() {
        if (buffer_.size() >= kCopyBlock) {
            Flush();
        }
    }
    void Flush() {
        file_.write(buffer_.data(), buffer_.size());
        written_ += buffer_.size();
        buffer_.clear();
    }
    void Commit() {
        Flush();
        file_.commit();
    }

  private:
    AtomicFile file_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t written_ = 0;
};

// Every position written must be where the layout put it.
void Expect(const Sink& sink, std::uint64_t position) {
    if (sink.Position() != position) {
        throw std::logic_error("AVI layout mismatch");
    }
}

class AviSaver {
  public:
    AviSaver(std::vector<SaveStream>& streams, const std::vector<Chunk>& chunks,
             const Layout& layout)
        : streams_(streams), chunks_(chunks), layout_(layout) {
        for (std::size_t s = 0; s < streams_.size(); ++s) {
            if (streams_[s].data.info.fccType == streamtypeVIDEO) {
                video_ = s;
                break;
            }
        }
    }

    void Write(Sink& sink) {
        for (std::size_t r = 0; r < layout_.riffs.size(); ++r) {
            WriteRiff(sink, r);
        }
    }

  private:
    void WriteRiff(Sink& sink, std::size_t r) {
        const Riff& riff = layout_.riffs[r];
        Expect(sink, riff.start);
        sink.ListHeader(kRiff, riff.size - 8,
                        r == 0 ? MakeFourCC('A', 'V', 'I', ' ') : MakeFourCC('A', 'V', 'I', 'X'));
        if (r == 0) {
            WriteHdrl(sink);
        }
        std::uint64_t moviBytes = 4;
        for (std::size_t i = riff.first; i < riff.end; ++i) {
            moviBytes += 8 + Padded(chunks_[i].size);
        }
        if (layout_.openDml) {
            for (const std::uint32_t entries : riff.indexEntries) {
                moviBytes += entries > 0 ? IxBytes(entries) : 0;
            }
        }
        const std::uint64_t movi = sink.Position();
        sink.ListHeader(MakeFourCC('L', 'I', 'S', 'T'), moviBytes, MakeFourCC('m', 'o', 'v', 'i'));
        std::vector<std::uint64_t> positions; // of each chunk's header
        positions.reserve(riff.end - riff.first);
        for (std::size_t i = riff.first; i < riff.end; ++i) {
            positions.push_back(sink.Position());
            WriteChunk(sink, chunks_[i]);
        }
        if (layout_.openDml) {
            WriteStandardIndexes(sink, riff, positions);
        }
        Expect(sink, movi + 8 + moviBytes);
        if (r == 0) {
            sink.ChunkHeader(MakeFourCC('i', 'd', 'x', '1'),
                             kIdx1EntryBytes * (riff.end - riff.first));
            for (std::size_t i = riff.first; i < riff.end; ++i) {
                const Chunk& chunk = chunks_[i];
                sink.U32(streams_[chunk.stream].chunkId);
                sink.U32(chunk.flags);
                sink.U32(std::uint32_t(positions[i - riff.first] - (movi + 8)));
                sink.U32(chunk.size);
                sink.FlushIfFull();
            }
        }
        Expect(sink, riff.start + riff.size);
    }

    void WriteHdrl(Sink& sink) {
        const std::uint64_t start = sink.Position();
        sink.ListHeader(MakeFourCC('L', 'I', 'S', 'T'), layout_.hdrlBytes - 8,
                        MakeFourCC('h', 'd', 'r', 'l'));
        WriteAvih(sink);
        for (std::size_t s = 0; s < streams_.size(); ++s) {
            WriteStrl(sink, s);
        }
        if (layout_.openDml) {
            sink.ListHeader(MakeFourCC('L', 'I', 'S', 'T'), 4 + 8 + kDmlhBytes,
                            MakeFourCC('o', 'd', 'm', 'l'));
            sink.ChunkHeader(MakeFourCC('d', 'm', 'l', 'h'), kDmlhBytes);
            sink.U32(std::uint32_t(streams_[video_].length));
            sink.Zeros(kDmlhBytes - 4);
        }
        Expect(sink, start + layout_.hdrlBytes);
    }

    void WriteAvih(Sink& sink) {
        const AviStreamInfo& clock = streams_[video_].data.info;
        std::uint64_t maxBytesPerSec = 0;
        std::uint32_t largest = 0;
        for (const SaveStream& stream : streams_) {
            const AviStreamInfo& info = stream.data.info;
            const std::uint64_t perSample =
                info.dwSampleSize != 0 ? info.dwSampleSize : stream.largestChunk;
            maxBytesPerSec += perSample * info.dwRate / info.dwScale;
            largest = std::max(largest, stream.largestChunk);
        }
        std::uint32_t framesInFirstRiff = 0;
        const Riff& first = layout_.riffs.front();
        for (std::size_t i = first.first; i < first.end; ++i) {
            framesInFirstRiff += chunks_[i].stream == video_ ? 1 : 0;
        }
        std::int32_t width = clock.rcFrame.right - clock.rcFrame.left;
        std::int32_t height = clock.rcFrame.bottom - clock.rcFrame.top;
        const std::vector<std::uint8_t>& format = streams_[video_].data.format;
        if (clock.fccType == streamtypeVIDEO && format.size() >= sizeof(BitmapInfoHeader)) {
            BitmapInfoHeader header;
            std::memcpy(&header, format.data(), sizeof header);
            width = header.biWidth;
            height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
        }

        sink.ChunkHeader(MakeFourCC('a', 'v', 'i', 'h'), kAvihBytes);
        sink.U32(std::uint32_t((std::uint64_t(clock.dwScale) * 1000000 + clock.dwRate / 2) /
                               clock.dwRate));
        sink.U32(std::uint32_t(std::min<std::uint64_t>(maxBytesPerSec, 0xFFFFFFFFu)));
        sink.U32(0); // padding granularity
        sink.U32(AVIF_HASINDEX | AVIF_ISINTERLEAVED);
        sink.U32(framesInFirstRiff);
        sink.U32(0); // initial frames
        sink.U32(std::uint32_t(streams_.size()));
        sink.U32(largest);
        sink.U32(std::uint32_t(width));
        sink.U32(std::uint32_t(height));
        sink.Zeros(16);
    }

    static std::uint16_t Coordinate(std::int32_t v) {
        return std::uint16_t(std::int16_t(std::clamp(v, -32768, 32767)));
    }

    void WriteStrl(Sink& sink, std::size_t s) {
        const SaveStream& stream = streams_[s];
        const AviStreamInfo& info = stream.data.info;
        const std::uint64_t format = stream.data.format.size();
        std::uint64_t bytes = 4 + 8 + kStrhBytes + 8 + Padded(format);
        if (layout_.openDml) {
            bytes += 8 + kIndexHeaderBytes + kIndxEntryBytes * layout_.indxEntries;
        }
        sink.ListHeader(MakeFourCC('L', 'I', 'S', 'T'), bytes, MakeFourCC('s', 't', 'r', 'l'));

        sink.ChunkHeader(MakeFourCC('s', 't', 'r', 'h'), kStrhBytes);
        sink.U32(info.fccType);
        sink.U32(info.fccHandler);
        sink.U32(info.dwFlags);
        sink.U16(info.wPriority);
        sink.U16(info.wLanguage);
        sink.U32(info.dwInitialFrames);
        sink.U32(info.dwScale);
        sink.U32(info.dwRate);
        sink.U32(info.dwStart);
        sink.U32(std::uint32_t(stream.length));
        sink.U32(stream.largestChunk);
        sink.U32(info.dwQuality);
        sink.U32(info.dwSampleSize);
        sink.U16(Coordinate(info.rcFrame.left));
        sink.U16(Coordinate(info.rcFrame.top));
        sink.U16(Coordinate(info.rcFrame.right));
        sink.U16(Coordinate(info.rcFrame.bottom));

        sink.ChunkHeader(MakeFourCC('s', 't', 'r', 'f'), format);
        sink.Bytes(stream.data.format);
        sink.Zeros(Padded(format) - format);

        if (layout_.openDml) {
            sink.ChunkHeader(MakeFourCC('i', 'n', 'd', 'x'),
                             kIndexHeaderBytes + kIndxEntryBytes * layout_.indxEntries);
            sink.U16(4); // longs per entry
            sink.U8(0);
            sink.U8(AVI_INDEX_OF_INDEXES);
            std::uint32_t used = 0;
            for (const Riff& riff : layout_.riffs) {
                used += riff.indexEntries[s] > 0 ? 1 : 0;
            }
            sink.U32(used);
            sink.U32(stream.chunkId);
            sink.Zeros(12);
            for (const Riff& riff : layout_.riffs) {
                if (riff.indexEntries[s] == 0) {
                    continue;
                }
                std::uint64_t duration = 0;
                for (std::size_t i = riff.first; i < riff.end; ++i) {
                    duration += chunks_[i].stream == s ? chunks_[i].samples : 0;
                }
                sink.U64(riff.indexStart[s]);
                sink.U32(std::uint32_t(IxBytes(riff.indexEntries[s])));
                sink.U32(std::uint32_t(duration));
            }
            sink.Zeros(kIndxEntryBytes * (layout_.indxEntries - used));
        }
    }

    void WriteChunk(Sink& sink, const Chunk& chunk) {
        const SaveStream& stream = streams_[chunk.stream];
        sink.ChunkHeader(stream.chunkId, chunk.size);
        const StreamData& data = stream.data;
        if (data.info.dwSampleSize == 0) {
            sink.Copy(*data.store, data.pieces[chunk.from].offset, chunk.size);
        } else {
            // A run may start inside one piece and go on through the next ones.
            std::uint64_t at = chunk.from;
            std::uint64_t left = chunk.size;
            std::size_t p = std::size_t(
                std::upper_bound(stream.pieceStarts.begin(), stream.pieceStarts.end(), at) -
                stream.pieceStarts.begin() - 1);
            while (left > 0) {
                const Piece& piece = data.pieces[p];
                const std::uint64_t skip = at - stream.pieceStarts[p];
                const std::uint64_t take = std::min<std::uint64_t>(left, piece.size - skip);
                sink.Copy(*data.store, piece.offset + skip, take);
                at += take;
                left -= take;
                ++p;
            }
        }
        sink.Zeros(Padded(chunk.size) - chunk.size);
        sink.FlushIfFull();
    }

    void WriteStandardIndexes(Sink& sink, const Riff& riff,
                              const std::vector<std::uint64_t>& positions) {
        for (std::size_t s = 0; s < streams_.size(); ++s) {
            const std::uint32_t entries = riff.indexEntries[s];
            if (entries == 0) {
                continue;
            }
            Expect(sink, riff.indexStart[s]);
            sink.ChunkHeader(streams_[s].indexId, IxBytes(entries) - 8);
            sink.U16(2); // longs per entry
            sink.U8(0);
            sink.U8(AVI_INDEX_OF_CHUNKS);
            sink.U32(entries);
            sink.U32(streams_[s].chunkId);
            sink.U64(riff.start); // base of the offsets
            sink.U32(0);
            for (std::size_t i = riff.first; i < riff.end; ++i) {
                const Chunk& chunk = chunks_[i];
                if (chunk.stream != s) {
                    continue;
                }
                sink.U32(std::uint32_t(positions[i - riff.first] + 8 - riff.start));
                sink.U32(chunk.size | ((chunk.flags & AVIIF_KEYFRAME) != 0 ? 0 : kNotKeyFrame));
                sink.FlushIfFull();
            }
        }
    }

    std::vector<SaveStream>& streams_;
    const std::vector<Chunk>& chunks_;
    const Layout& layout_;
    std::size_t video_ = 0;
};

} // namespace

AviResult SaveAvi(const std::string& path, std::vector<SaveStream>& streams,
                  std::uint64_t riffLimit) {
    PrepareStreams(streams);
    const std::vector<Chunk> chunks = Interleave(streams);
    const Layout layout = PlanLayout(streams, chunks, riffLimit);
    Sink sink(path);
    AviSaver(streams, chunks, layout).Write(sink);
    sink.Commit();
    return AVIERR_OK;
}

} // namespace morph::avi
