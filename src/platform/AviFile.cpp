#include "platform/AviFile.h"

#include "platform/AtomicFile.h"
#include "platform/InputFile.h"
#include "platform/MorphError.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morph {

namespace {

constexpr std::uint32_t kMaxRateOrScale = std::uint32_t(std::numeric_limits<std::int32_t>::max());

// ---------------------------------------------------------------------------------------
// Files the samples live in.

enum class ReadStatus { Ok, Short, Failed };

class SampleStore {
  public:
    explicit SampleStore(int fd) : fd_(fd) {}
    ~SampleStore() { ::close(fd_); }
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;

    int fd() const { return fd_; }

    // Appends at the end of what this store wrote; nothing counts as written on failure.
    bool Append(const void* data, std::size_t size, std::uint64_t& offset) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, bytes + done, size - done, off_t(end_ + done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += std::size_t(n);
        }
        offset = end_;
        end_ += size;
        return true;
    }

    ReadStatus Read(std::uint64_t offset, void* out, std::size_t size) const {
        auto* bytes = static_cast<std::uint8_t*>(out);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(fd_, bytes + done, size - done, off_t(offset + done));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return ReadStatus::Failed;
            }
            if (n == 0) {
                return ReadStatus::Short;
            }
            done += std::size_t(n);
        }
        return ReadStatus::Ok;
    }

  private:
    int fd_;
    std::uint64_t end_ = 0;
};

// A run of a stream's data in its store: one sample when the stream has no sample size,
// else a whole number of samples.
struct Piece {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t flags = 0;
};

struct StreamData {
    AviStreamInfo info;
    std::vector<std::uint8_t> format;
    std::shared_ptr<SampleStore> store;
    std::vector<Piece> pieces;
    std::uint64_t bytes = 0;
    std::uint32_t largestPiece = 0;
    bool writable = false;

    std::uint64_t Length() const {
        return info.dwSampleSize == 0 ? pieces.size() : bytes / info.dwSampleSize;
    }
};

std::uint16_t Le16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}
std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Handles.

struct AviFile {
    std::int32_t refs = 1;
    bool writable = false;
    std::shared_ptr<SampleStore> store;
    std::vector<std::shared_ptr<StreamData>> streams;
};

struct AviStream {
    std::int32_t refs = 1;
    std::shared_ptr<StreamData> data;
    // The file this stream holds a reference on; empty for an editable stream.
    std::weak_ptr<AviFile> file;
};

namespace {

struct Library {
    std::mutex mutex;
    int users = 0;
    std::map<const AviFile*, std::shared_ptr<AviFile>> files;
    std::map<const AviStream*, std::unique_ptr<AviStream>> streams;

    AviFile* Find(const AviFile* file) {
        const auto it = files.find(file);
        return it == files.end() ? nullptr : it->second.get();
    }
    AviStream* Find(const AviStream* stream) {
        const auto it = streams.find(stream);
        return it == streams.end() ? nullptr : it->second.get();
    }
    // What every call on a handle checks first, under the lock: the layer is initialised and
    // the handle is one of ours.
    template <class Handle> AviResult Lookup(const Handle* handle, Handle*& found) {
        if (users == 0) {
            return CO_E_NOTINITIALIZED;
        }
        found = Find(handle);
        return found == nullptr ? AVIERR_BADHANDLE : AVIERR_OK;
    }

    AviFile* Add(std::shared_ptr<AviFile> file) {
        AviFile* handle = file.get();
        files.emplace(handle, std::move(file));
        return handle;
    }
    AviStream* Add(std::shared_ptr<StreamData> data, const std::shared_ptr<AviFile>& file) {
        auto stream = std::make_unique<AviStream>();
        stream->data = std::move(data);
        if (file) {
            ++file->refs;
            stream->file = file;
        }
        AviStream* handle = stream.get();
        streams.emplace(handle, std::move(stream));
        return handle;
    }

    std::int32_t Release(AviFile* file) {
        const std::int32_t left = --file->refs;
        if (left <= 0) {
            files.erase(file);
        }
        return left;
    }
    std::int32_t Release(AviStream* stream) {
        const std::int32_t left = --stream->refs;
        if (left <= 0) {
            const std::shared_ptr<AviFile> file = stream->file.lock();
            streams.erase(stream);
            if (file && Find(file.get()) != nullptr) {
                Release(file.get());
            }
        }
        return left;
    }
};

Library& Lib() {
    static Library library;
    return library;
}

// ---------------------------------------------------------------------------------------
// WAV files.

constexpr std::uint32_t kRiff = MakeFourCC('R', 'I', 'F', 'F');
constexpr std::uint32_t kWave = MakeFourCC('W', 'A', 'V', 'E');
constexpr std::uint32_t kFmt = MakeFourCC('f', 'm', 't', ' ');
constexpr std::uint32_t kData = MakeFourCC('d', 'a', 't', 'a');
constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::size_t kWaveFormatBytes = 14; // up to nBlockAlign
constexpr std::size_t kWaveFormatExBytes = 18;
constexpr std::size_t kMaxFormatBytes = kWaveFormatExBytes + 0xFFFF;

AviResult ReadFailure(ReadStatus status) {
    return status == ReadStatus::Failed ? AVIERR_FILEREAD : AVIERR_BADFORMAT;
}

// The format must describe a playable rate; PCM must agree with itself, since the stream's
// timing comes from nAvgBytesPerSec and decoders go by the sample rate and sample size.
bool UsableWaveFormat(const std::vector<std::uint8_t>& fmt) {
    const std::uint16_t tag = Le16(&fmt[0]);
    const std::uint16_t channels = Le16(&fmt[2]);
    const std::uint32_t samplesPerSec = Le32(&fmt[4]);
    const std::uint32_t avgBytesPerSec = Le32(&fmt[8]);
    const std::uint16_t blockAlign = Le16(&fmt[12]);
    if (channels == 0 || samplesPerSec == 0 || avgBytesPerSec == 0 ||
        avgBytesPerSec > kMaxRateOrScale || blockAlign == 0) {
        return false;
    }
    if (fmt.size() >= kWaveFormatExBytes && Le16(&fmt[16]) > fmt.size() - kWaveFormatExBytes) {
        return false; // cbSize promises more than the chunk holds
    }
    if (tag == kWaveFormatPcm) {
        if (fmt.size() < 16) {
            return false;
        }
        const std::uint16_t bits = Le16(&fmt[14]);
        return bits != 0 && blockAlign == channels * ((bits + 7) / 8) &&
               std::uint64_t(avgBytesPerSec) == std::uint64_t(samplesPerSec) * blockAlign;
    }
    return true;
}

// Reads the chunks of a RIFF WAVE file. Each chunk must lie inside the file and inside
// the RIFF chunk (a RIFF size larger than the file, as streaming writers leave it, is
// bounded by the file); nothing is read past the end of a chunk.
AviResult OpenWav(const std::string& path, std::shared_ptr<AviFile>& result) {
    // Only a regular file: a FIFO would hold the export until some writer came along.
    InputFile input(path);
    if (!input.ok()) {
        return input.error() == ENOMEM ? AVIERR_MEMORY : AVIERR_FILEOPEN;
    }
    const std::uint64_t fileSize = std::uint64_t(input.size());
    auto store = std::make_shared<SampleStore>(input.release());

    std::uint8_t head[12];
    if (const ReadStatus status = store->Read(0, head, sizeof head); status != ReadStatus::Ok) {
        return ReadFailure(status);
    }
    if (Le32(head) != kRiff || Le32(head + 8) != kWave) {
        return AVIERR_BADFORMAT;
    }
    const std::uint64_t riffEnd =
        std::min<std::uint64_t>(8 + std::uint64_t(Le32(head + 4)), fileSize);

    std::vector<std::uint8_t> fmt;
    std::optional<Piece> data;
    for (std::uint64_t pos = 12; pos < riffEnd && (fmt.empty() || !data);) {
        if (pos + 8 > riffEnd) {
            return AVIERR_BADFORMAT; // a chunk header cut off
        }
        std::uint8_t header[8];
        if (const ReadStatus status = store->Read(pos, header, sizeof header);
            status != ReadStatus::Ok) {
            return ReadFailure(status);
        }
        const std::uint32_t id = Le32(header);
        const std::uint32_t size = Le32(header + 4);
        const std::uint64_t body = pos + 8;
        if (body + size > riffEnd) {
            return AVIERR_BADFORMAT;
        }
        if (id == kFmt && fmt.empty()) {
            if (size < kWaveFormatBytes || size > kMaxFormatBytes) {
                return AVIERR_BADFORMAT;
            }
            fmt.resize(size);
            if (const ReadStatus status = store->Read(body, fmt.data(), size);
                status != ReadStatus::Ok) {
                return ReadFailure(status);
            }
            if (!UsableWaveFormat(fmt)) {
                return AVIERR_BADFORMAT;
            }
        } else if (id == kData && !data) {
            data = Piece{body, size, AVIIF_KEYFRAME};
        }
        pos = body + size + (size & 1u);
    }
    if (fmt.empty()) {
        return AVIERR_BADFORMAT;
    }

    auto file = std::make_shared<AviFile>();
    file->store = store;
    if (data) {
        const std::uint16_t blockAlign = Le16(&fmt[12]);
        auto stream = std::make_shared<StreamData>();
        stream->info.fccType = streamtypeAUDIO;
        stream->info.dwScale = blockAlign;
        stream->info.dwRate = Le32(&fmt[8]);
        stream->info.dwSampleSize = blockAlign;
        stream->format = std::move(fmt);
        stream->store = store;
        // A trailing part of a block is no sample.
        data->size -= data->size % blockAlign;
        if (data->size > 0) {
            stream->pieces.push_back(*data);
            stream->bytes = data->size;
            stream->largestPiece = data->size;
        }
        stream->info.dwLength = std::uint32_t(stream->Length());
        file->streams.push_back(std::move(stream));
    }
    result = std::move(file);
    return AVIERR_OK;
}

bool HasExtension(const std::string& path, const char* extension) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return false;
    }
    const std::string ext = path.substr(dot);
    return ext.size() == std::strlen(extension) &&
           std::equal(ext.begin(), ext.end(), extension, [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// ---------------------------------------------------------------------------------------
// Saving.

// Files are split into RIFF chunks of at most this size; a file that would need more than
// one is written as an OpenDML (AVI 2.0) file.
constexpr std::uint64_t kRiffLimit = std::uint64_t(1) << 30;
// Longest run of fixed-size samples in one chunk.
constexpr std::uint64_t kMaxRunBytes = std::uint64_t(4) << 20;
constexpr std::size_t kCopyBlock = std::size_t(1) << 20;

constexpr std::uint32_t AVIF_HASINDEX = 0x10;
constexpr std::uint32_t AVIF_ISINTERLEAVED = 0x100;
constexpr std::uint8_t AVI_INDEX_OF_INDEXES = 0;
constexpr std::uint8_t AVI_INDEX_OF_CHUNKS = 1;
constexpr std::uint32_t kNotKeyFrame = 0x80000000u;

constexpr std::uint64_t kAvihBytes = 56;
constexpr std::uint64_t kStrhBytes = 56;
constexpr std::uint64_t kDmlhBytes = 248;
constexpr std::uint64_t kIndexHeaderBytes = 24; // after the chunk header, indx and ix##
constexpr std::uint64_t kIndxEntryBytes = 16;
constexpr std::uint64_t kIxEntryBytes = 8;
constexpr std::uint64_t kIdx1EntryBytes = 16;

std::uint64_t Padded(std::uint64_t size) {
    return size + (size & 1u);
}

struct ReadBackFailure {};

struct SaveStream {
    StreamData data;
    std::uint32_t chunkId = 0;
    std::uint32_t indexId = 0;
    std::uint64_t length = 0;
    std::uint32_t largestChunk = 0;
    std::vector<std::uint64_t> pieceStarts; // byte position of each piece in the stream
};

std::uint32_t TwoDigits(std::size_t n) {
    return std::uint32_t('0' + n / 10) | (std::uint32_t('0' + n % 10) << 8);
}

struct Chunk {
    std::uint32_t stream = 0;
    std::uint32_t size = 0;
    std::uint32_t flags = 0;
    std::uint32_t samples = 0;
    std::uint64_t from = 0; // piece index, or byte position for runs of fixed-size samples
};

// The second of playing time in which sample n of a stream starts, and the first sample
// that starts in second g or later.
std::uint64_t SecondOf(std::uint64_t n, const AviStreamInfo& info) {
    return n * info.dwScale / info.dwRate;
}
std::uint64_t FirstSampleOf(std::uint64_t g, const AviStreamInfo& info) {
    return (g * info.dwRate + info.dwScale - 1) / info.dwScale;
}

// Orders the chunks of all streams by the second in which they start playing; within a
// second, sound comes before pictures so that players have it ready.
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

// Places the chunks into RIFFs of at most kRiffLimit bytes; a RIFF takes at least one chunk.
std::vector<Riff> PlaceOpenDml(const std::vector<Chunk>& chunks, std::size_t streamCount,
                               std::uint64_t hdrlBytes) {
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
            if (i > riff.first && used + cost > kRiffLimit) {
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

Layout PlanLayout(const std::vector<SaveStream>& streams, const std::vector<Chunk>& chunks) {
    Layout layout;
    layout.hdrlBytes = HdrlBytes(streams, false, 0);
    std::uint64_t total = 12 + layout.hdrlBytes + 12 + 8 + kIdx1EntryBytes * chunks.size();
    for (const Chunk& chunk : chunks) {
        total += 8 + Padded(chunk.size);
    }
    if (total <= kRiffLimit) {
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
        layout.riffs = PlaceOpenDml(chunks, streams.size(), layout.hdrlBytes);
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

AviResult SaveAvi(const std::string& path, std::vector<SaveStream>& streams) {
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
    const std::vector<Chunk> chunks = Interleave(streams);
    const Layout layout = PlanLayout(streams, chunks);
    Sink sink(path);
    AviSaver(streams, chunks, layout).Write(sink);
    sink.Commit();
    return AVIERR_OK;
}

// Runs `body` and turns what it throws into a result code.
template <typename Body> AviResult Guarded(AviResult onFileError, Body&& body) {
    try {
        return body();
    } catch (const ReadBackFailure&) {
        return AVIERR_FILEREAD;
    } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
    } catch (const MorphError&) {
        return onFileError;
    } catch (...) {
        return AVIERR_INTERNAL;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// The interface.

void AVIFileInit() {
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    ++lib.users;
}

void AVIFileExit() {
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    if (lib.users > 0 && --lib.users == 0) {
        lib.streams.clear();
        lib.files.clear();
    }
}

AviResult AVIFileOpenA(AviFile** file, const std::string& path, std::uint32_t mode) {
    if (file == nullptr) {
        return AVIERR_BADPARAM;
    }
    *file = nullptr;
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    if (lib.users == 0) {
        return CO_E_NOTINITIALIZED;
    }
    if ((mode & (OF_WRITE | OF_CREATE)) != 0) {
        return AVIERR_UNSUPPORTED;
    }
    if (!HasExtension(path, ".wav")) {
        return REGDB_E_CLASSNOTREG;
    }
    return Guarded(AVIERR_FILEREAD, [&] {
        std::shared_ptr<AviFile> opened;
        const AviResult result = OpenWav(path, opened);
        if (result == AVIERR_OK) {
            *file = lib.Add(std::move(opened));
        }
        return result;
    });
}

AviResult AVIFileCreateUniqueA(AviFile** file, const std::string& folder, const std::string& prefix,
                               const std::string& extension, std::string& path) {
    if (file == nullptr) {
        return AVIERR_BADPARAM;
    }
    *file = nullptr;
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    if (lib.users == 0) {
        return CO_E_NOTINITIALIZED;
    }
    return Guarded(AVIERR_FILEOPEN, [&] {
        std::string name = folder;
        if (!name.empty() && name.back() != '/') {
            name += '/';
        }
        name += prefix + "XXXXXX" + extension;
        const int fd = ::mkostemps(name.data(), int(extension.size()), O_CLOEXEC);
        if (fd < 0) {
            return AVIERR_FILEOPEN;
        }
        auto opened = std::make_shared<AviFile>();
        opened->writable = true;
        opened->store = std::make_shared<SampleStore>(fd);
        path = name;
        *file = lib.Add(std::move(opened));
        return AVIERR_OK;
    });
}

AviResult AVIFileCreateStreamA(AviFile* file, AviStream** stream, const AviStreamInfo& info) {
    if (stream == nullptr) {
        return AVIERR_BADPARAM;
    }
    *stream = nullptr;
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    AviFile* owner = nullptr;
    if (const AviResult result = lib.Lookup(file, owner); result != AVIERR_OK) {
        return result;
    }
    if (!owner->writable) {
        return AVIERR_READONLY;
    }
    if (info.fccType != streamtypeVIDEO && info.fccType != streamtypeAUDIO) {
        return AVIERR_UNSUPPORTED;
    }
    if (info.dwScale == 0 || info.dwRate == 0 || info.dwScale > kMaxRateOrScale ||
        info.dwRate > kMaxRateOrScale) {
        return AVIERR_BADPARAM;
    }
    return Guarded(AVIERR_INTERNAL, [&] {
        auto data = std::make_shared<StreamData>();
        data->info = info;
        data->info.dwLength = 0;
        data->store = owner->store;
        data->writable = true;
        owner->streams.push_back(data);
        *stream = lib.Add(std::move(data), lib.files.at(owner));
        return AVIERR_OK;
    });
}

AviResult AVIStreamSetFormat(AviStream* stream, std::int32_t position, const void* format,
                             std::int32_t size) {
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    AviStream* found = nullptr;
    if (const AviResult result = lib.Lookup(stream, found); result != AVIERR_OK) {
        return result;
    }
    StreamData& data = *found->data;
    if (!data.writable) {
        return AVIERR_READONLY;
    }
    if (format == nullptr || size <= 0) {
        return AVIERR_BADPARAM;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(format);
    std::vector<std::uint8_t> copy(bytes, bytes + size);
    if (position != 0 || !data.pieces.empty()) {
        return copy == data.format ? AVIERR_OK : AVIERR_UNSUPPORTED;
    }
    if (data.info.fccType == streamtypeVIDEO) {
        if (copy.size() < sizeof(BitmapInfoHeader) || Le32(copy.data()) < 40 ||
            Le32(copy.data()) > copy.size()) {
            return AVIERR_BADFORMAT;
        }
    } else if (copy.size() < kWaveFormatBytes) {
        return AVIERR_BADFORMAT;
    }
    data.format = std::move(copy);
    return AVIERR_OK;
}

AviResult AVIStreamWrite(AviStream* stream, std::int32_t start, std::int32_t samples,
                         const void* buffer, std::int32_t size, std::uint32_t flags,
                         std::int32_t* samplesWritten, std::int32_t* bytesWritten) {
    if (samplesWritten != nullptr) {
        *samplesWritten = 0;
    }
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    AviStream* found = nullptr;
    if (const AviResult result = lib.Lookup(stream, found); result != AVIERR_OK) {
        return result;
    }
    StreamData& data = *found->data;
    if (!data.writable) {
        return AVIERR_READONLY;
    }
    if (data.format.empty()) {
        return AVIERR_BADFORMAT;
    }
    if (start < 0 || std::uint64_t(start) != data.Length() || samples < 1 || size < 0 ||
        (buffer == nullptr && size > 0)) {
        return AVIERR_BADPARAM;
    }
    const std::uint32_t sampleSize = data.info.dwSampleSize;
    if ((sampleSize == 0 && samples != 1) ||
        (sampleSize != 0 && std::uint64_t(samples) * sampleSize != std::uint64_t(size))) {
        return AVIERR_BADSIZE;
    }
    if (data.Length() + std::uint64_t(samples) > kMaxRateOrScale) {
        return AVIERR_BADSIZE;
    }
    return Guarded(AVIERR_FILEWRITE, [&] {
        Piece piece;
        piece.size = std::uint32_t(size);
        piece.flags = flags;
        if (!data.store->Append(buffer, std::size_t(size), piece.offset)) {
            return AVIERR_FILEWRITE;
        }
        data.pieces.push_back(piece);
        data.bytes += piece.size;
        data.largestPiece = std::max(data.largestPiece, piece.size);
        data.info.dwLength = std::uint32_t(data.Length());
        if (samplesWritten != nullptr) {
            *samplesWritten = samples;
        }
        if (bytesWritten != nullptr) {
            *bytesWritten = size;
        }
        return AVIERR_OK;
    });
}

AviResult AVIStreamInfoA(AviStream* stream, AviStreamInfo* info) {
    if (info == nullptr) {
        return AVIERR_BADPARAM;
    }
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    AviStream* found = nullptr;
    if (const AviResult result = lib.Lookup(stream, found); result != AVIERR_OK) {
        return result;
    }
    *info = found->data->info;
    info->dwLength = std::uint32_t(found->data->Length());
    info->dwSuggestedBufferSize = std::max(info->dwSuggestedBufferSize, found->data->largestPiece);
    return AVIERR_OK;
}

AviResult AVIFileGetStream(AviFile* file, AviStream** stream, std::uint32_t type,
                           std::int32_t index) {
    if (stream == nullptr) {
        return AVIERR_BADPARAM;
    }
    *stream = nullptr;
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    AviFile* owner = nullptr;
    if (const AviResult result = lib.Lookup(file, owner); result != AVIERR_OK) {
        return result;
    }
    std::int32_t seen = 0;
    for (const std::shared_ptr<StreamData>& data : owner->streams) {
        if (type != 0 && data->info.fccType != type) {
            continue;
        }
        if (seen++ == index) {
            return Guarded(AVIERR_INTERNAL, [&] {
                *stream = lib.Add(data, lib.files.at(owner));
                return AVIERR_OK;
            });
        }
    }
    return AVIERR_NODATA;
}

AviResult CreateEditableStream(AviStream** editable, AviStream* source) {
    if (editable == nullptr) {
        return AVIERR_BADPARAM;
    }
    *editable = nullptr;
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    AviStream* found = nullptr;
    if (const AviResult result = lib.Lookup(source, found); result != AVIERR_OK) {
        return result;
    }
    return Guarded(AVIERR_INTERNAL, [&] {
        auto copy = std::make_shared<StreamData>(*found->data);
        copy->writable = false;
        *editable = lib.Add(std::move(copy), nullptr);
        return AVIERR_OK;
    });
}

std::int32_t AVIStreamRelease(AviStream* stream) {
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    AviStream* found = nullptr;
    const AviResult result = lib.Lookup(stream, found);
    return result != AVIERR_OK ? result : lib.Release(found);
}

std::int32_t AVIFileRelease(AviFile* file) {
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    AviFile* found = nullptr;
    const AviResult result = lib.Lookup(file, found);
    return result != AVIERR_OK ? result : lib.Release(found);
}

AviResult AVISaveV(const std::string& path, int streamCount, AviStream* const* streams) {
    std::vector<SaveStream> saved;
    {
        Library& lib = Lib();
        const std::lock_guard lock(lib.mutex);
        if (lib.users == 0) {
            return CO_E_NOTINITIALIZED;
        }
        if (streamCount < 1 || streamCount > 99 || streams == nullptr) {
            return AVIERR_BADPARAM;
        }
        if (!HasExtension(path, ".avi")) {
            return REGDB_E_CLASSNOTREG;
        }
        const AviResult taken = Guarded(AVIERR_INTERNAL, [&] {
            for (int s = 0; s < streamCount; ++s) {
                AviStream* found = lib.Find(streams[s]);
                if (found == nullptr) {
                    return AVIERR_BADHANDLE;
                }
                if (found->data->format.empty()) {
                    return AVIERR_BADFORMAT;
                }
                // A copy, so that the save needs no lock while it writes.
                saved.emplace_back();
                saved.back().data = *found->data;
            }
            return AVIERR_OK;
        });
        if (taken != AVIERR_OK) {
            return taken;
        }
    }
    return Guarded(AVIERR_FILEWRITE, [&] { return SaveAvi(path, saved); });
}

} // namespace morph
