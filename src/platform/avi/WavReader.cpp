// Reading WAV files: the chunks of a RIFF WAVE file, checked against the file and the RIFF
// before anything is read from them.
#include "platform/InputFile.h"
#include "platform/avi/AviStore.h"

#include <algorithm>
#include <cerrno>
#include <optional>

namespace morph::avi {

namespace {

constexpr std::uint32_t kWave = MakeFourCC('W', 'A', 'V', 'E');
constexpr std::uint32_t kFmt = MakeFourCC('f', 'm', 't', ' ');
constexpr std::uint32_t kData = MakeFourCC('d', 'a', 't', 'a');
constexpr std::uint16_t kWaveFormatPcm = 1;
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

} // namespace

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

} // namespace morph::avi
