// Private to the AVI layer (src/platform/avi/) and its tests: the files samples live in, the
// data of a stream, the handles the interface gives out, and the guard that turns what the
// layer throws into result codes.
#pragma once

#include "platform/AviFile.h"
#include "platform/MorphError.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace morph {

namespace avi {

inline constexpr std::uint32_t kMaxRateOrScale =
    std::uint32_t(std::numeric_limits<std::int32_t>::max());

inline constexpr std::uint32_t kRiff = MakeFourCC('R', 'I', 'F', 'F');
// The smallest sound format: a WAVEFORMAT up to nBlockAlign.
inline constexpr std::size_t kWaveFormatBytes = 14;

inline std::uint16_t Le16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}
inline std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

enum class ReadStatus { Ok, Short, Failed };

// A file the samples live in: the work file the frames go into, or a WAV file read.
class SampleStore {
  public:
    explicit SampleStore(int fd) : fd_(fd) {}
    ~SampleStore();
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;

    int fd() const { return fd_; }

    // Appends at the end of what this store wrote; nothing counts as written on failure.
    bool Append(const void* data, std::size_t size, std::uint64_t& offset);
    ReadStatus Read(std::uint64_t offset, void* out, std::size_t size) const;

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

} // namespace avi

// ---------------------------------------------------------------------------------------
// Handles.

struct AviFile {
    std::int32_t refs = 1;
    bool writable = false;
    std::shared_ptr<avi::SampleStore> store;
    std::vector<std::shared_ptr<avi::StreamData>> streams;
};

struct AviStream {
    std::int32_t refs = 1;
    std::shared_ptr<avi::StreamData> data;
    // The file this stream holds a reference on; empty for an editable stream.
    std::weak_ptr<AviFile> file;
};

namespace avi {

// The open files and streams; every call takes the mutex before it looks at them.
struct Library {
    std::mutex mutex;
    int users = 0;
    std::map<const AviFile*, std::shared_ptr<AviFile>> files;
    std::map<const AviStream*, std::unique_ptr<AviStream>> streams;

    // The open handle, or nullptr when `file` or `stream` is not one of ours.
    AviFile* Find(const AviFile* file);
    AviStream* Find(const AviStream* stream);

    AviFile* Add(std::shared_ptr<AviFile> file);
    AviStream* Add(std::shared_ptr<StreamData> data, const std::shared_ptr<AviFile>& file);

    std::int32_t Release(AviFile* file);
    std::int32_t Release(AviStream* stream);
};

Library& Lib();

// Whether the name's last part ends in `extension` (lower case, with its dot), in any case.
bool HasExtension(const std::string& path, const char* extension);

// Thrown when a stream's data cannot be read back from its store.
struct ReadBackFailure {};

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

// Reads a RIFF WAVE file into a file with one sound stream (none without a 'data' chunk).
AviResult OpenWav(const std::string& path, std::shared_ptr<AviFile>& result);

} // namespace avi
} // namespace morph
