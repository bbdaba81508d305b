// An AVIFile-style interface: reference-counted files and streams, a work file the video
// frames are written into, WAV files read as one sound stream, and a save that writes a
// standard RIFF AVI file from one or more streams.
//
// Saved files: a RIFF 'AVI ' with 'hdrl' (avih, one strl with strh and strf per stream),
// 'movi' with the chunks of all streams interleaved about once per second of playing time,
// and an 'idx1' index with key-frame flags. A file that would pass 1 GiB continues in
// RIFF 'AVIX' extensions, with 'indx' super indexes and 'ix##' chunk indexes per stream.
//
// Every function returns a result code (0 on success) and never throws. All functions
// need the interface initialised by AVIFileInit; the last AVIFileExit releases whatever
// is still open.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

namespace morph {

using AviResult = std::int32_t;

inline constexpr AviResult AviError(std::uint32_t code) {
    return static_cast<AviResult>(code);
}

inline constexpr AviResult AVIERR_OK = 0;
inline constexpr AviResult REGDB_E_CLASSNOTREG = AviError(0x80040154u);
inline constexpr AviResult CO_E_NOTINITIALIZED = AviError(0x800401F0u);
inline constexpr AviResult AVIERR_UNSUPPORTED = AviError(0x80044065u);
inline constexpr AviResult AVIERR_BADFORMAT = AviError(0x80044066u);
inline constexpr AviResult AVIERR_MEMORY = AviError(0x80044067u);
inline constexpr AviResult AVIERR_INTERNAL = AviError(0x80044068u);
inline constexpr AviResult AVIERR_BADFLAGS = AviError(0x80044069u);
inline constexpr AviResult AVIERR_BADPARAM = AviError(0x8004406Au);
inline constexpr AviResult AVIERR_BADSIZE = AviError(0x8004406Bu);
inline constexpr AviResult AVIERR_BADHANDLE = AviError(0x8004406Cu);
inline constexpr AviResult AVIERR_FILEREAD = AviError(0x8004406Du);
inline constexpr AviResult AVIERR_FILEWRITE = AviError(0x8004406Eu);
inline constexpr AviResult AVIERR_FILEOPEN = AviError(0x8004406Fu);
inline constexpr AviResult AVIERR_READONLY = AviError(0x80044072u);
inline constexpr AviResult AVIERR_NODATA = AviError(0x80044073u);

// Open modes.
inline constexpr std::uint32_t OF_READ = 0x0000;
inline constexpr std::uint32_t OF_WRITE = 0x0001;
inline constexpr std::uint32_t OF_SHARE_EXCLUSIVE = 0x0010;
inline constexpr std::uint32_t OF_CREATE = 0x1000;

// Sample flag of AVIStreamWrite.
inline constexpr std::uint32_t AVIIF_KEYFRAME = 0x10;

inline constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d) {
    return std::uint32_t(std::uint8_t(a)) | (std::uint32_t(std::uint8_t(b)) << 8) |
           (std::uint32_t(std::uint8_t(c)) << 16) | (std::uint32_t(std::uint8_t(d)) << 24);
}
inline constexpr std::uint32_t streamtypeVIDEO = MakeFourCC('v', 'i', 'd', 's');
inline constexpr std::uint32_t streamtypeAUDIO = MakeFourCC('a', 'u', 'd', 's');

// In-memory headers are the file's little-endian layouts.
static_assert(std::endian::native == std::endian::little);

struct AviRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};

// The stream header (140 bytes). A stream plays dwRate / dwScale samples per second;
// dwSampleSize 0 means one sample per chunk (video), otherwise samples of that many bytes
// (sound: the block size).
struct AviStreamInfo {
    std::uint32_t fccType = 0;
    std::uint32_t fccHandler = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwCaps = 0;
    std::uint16_t wPriority = 0;
    std::uint16_t wLanguage = 0;
    std::uint32_t dwScale = 0;
    std::uint32_t dwRate = 0;
    std::uint32_t dwStart = 0;
    std::uint32_t dwLength = 0;
    std::uint32_t dwInitialFrames = 0;
    std::uint32_t dwSuggestedBufferSize = 0;
    std::uint32_t dwQuality = 0;
    std::uint32_t dwSampleSize = 0;
    AviRect rcFrame;
    std::uint32_t dwEditCount = 0;
    std::uint32_t dwFormatChangeCount = 0;
    char szName[64] = {};
};
static_assert(sizeof(AviStreamInfo) == 140);

// The frame format of a video stream (40 bytes).
struct BitmapInfoHeader {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct AviFile;   // an open file: a work file being written, or a WAV file read
struct AviStream; // a stream of a file, or an editable stream made from one

void AVIFileInit();
void AVIFileExit();

// Opens a file for reading; the handler is chosen by the extension: ".wav" (any case) gives
// a file with one sound stream, from the 'fmt ' chunk as it stands and the 'data' chunk
// (none when the file has no 'data'). Results: AVIERR_FILEOPEN when the file cannot be
// opened, AVIERR_FILEREAD on a failed read, AVIERR_BADFORMAT for anything malformed,
// REGDB_E_CLASSNOTREG for another extension, AVIERR_UNSUPPORTED for a writing mode.
AviResult AVIFileOpenA(AviFile** file, const std::string& path, std::uint32_t mode);

// Creates an empty work file folder/<prefix><six random characters><extension>, readable
// only by its owner. The name is new: the file is created exclusively, so an existing file
// or link is never opened. `path` receives the name. AVIERR_FILEOPEN on failure.
AviResult AVIFileCreateUniqueA(AviFile** file, const std::string& folder, const std::string& prefix,
                               const std::string& extension, std::string& path);

// Makes a new stream in a work file from its header; dwScale and dwRate must be 1 to
// 2^31 - 1. The stream holds a reference to its file.
AviResult AVIFileCreateStreamA(AviFile* file, AviStream** stream, const AviStreamInfo& info);

// Sets the format at position 0, before the first sample (video: at least a 40-byte
// BitmapInfoHeader; sound: at least a 14-byte WAVEFORMAT).
AviResult AVIStreamSetFormat(AviStream* stream, std::int32_t position, const void* format,
                             std::int32_t size);

// Appends samples at `start`, which must be the stream's length. One sample per call when
// dwSampleSize is 0, else size = samples * dwSampleSize. AVIERR_FILEWRITE when the work
// file cannot take the data.
AviResult AVIStreamWrite(AviStream* stream, std::int32_t start, std::int32_t samples,
                         const void* buffer, std::int32_t size, std::uint32_t flags,
                         std::int32_t* samplesWritten, std::int32_t* bytesWritten);

// The stream's header, its length and largest sample included.
AviResult AVIStreamInfoA(AviStream* stream, AviStreamInfo* info);

// Stream `index` of the given type (0: any) of a file, with a new reference.
// AVIERR_NODATA when there is no such stream.
AviResult AVIFileGetStream(AviFile* file, AviStream** stream, std::uint32_t type,
                           std::int32_t index);

// A read-only copy of a stream's header, format and samples. It keeps the data it refers
// to readable after the source stream and its file are released.
AviResult CreateEditableStream(AviStream** editable, AviStream* source);

// Release one reference and return the remaining count; a file or stream is closed when
// its count reaches 0. An unknown or already closed handle gives AVIERR_BADHANDLE.
std::int32_t AVIStreamRelease(AviStream* stream);
std::int32_t AVIFileRelease(AviFile* file);

// Writes the streams into `path` (extension ".avi", any case; REGDB_E_CLASSNOTREG for
// another). The file appears only when complete, through a temporary beside it; an
// existing file of that name stays as it was when the save fails. AVIERR_FILEWRITE when
// the file cannot be written, AVIERR_FILEREAD when a stream's data cannot be read back.
AviResult AVISaveV(const std::string& path, int streamCount, AviStream* const* streams);

} // namespace morph
