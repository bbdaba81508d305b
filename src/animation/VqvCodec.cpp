#include "animation/VqvCodec.h"

#include "platform/AtomicFile.h"
#include "platform/InputFile.h"
#include "platform/Memory.h"
#include "platform/MorphError.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include <sys/stat.h>

namespace morph {

namespace {

constexpr std::int64_t kHeaderBytes = 12;
constexpr std::int64_t kCellBytes = 4;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string Dimensions(std::int64_t frames, std::int64_t width, std::int64_t height) {
    return std::to_string(frames) + (frames == 1 ? " frame of " : " frames of ") +
           std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

std::string Dimensions(const VqvHeader& header) {
    return Dimensions(header.frames, header.width, header.height);
}

// 4 * frames * height * width, or -1 when that passes what a file length can be (a signed
// 64-bit count, header included).
std::int64_t PixelBytes(std::int64_t frames, std::int64_t height, std::int64_t width) {
    std::int64_t bytes = kCellBytes;
    for (const std::int64_t factor : {frames, height, width}) {
        if (__builtin_mul_overflow(bytes, factor, &bytes) ||
            bytes > std::numeric_limits<std::int64_t>::max() - kHeaderBytes) {
            return -1;
        }
    }
    return bytes;
}

[[noreturn]] void ThrowNotVqv(const std::string& path, const std::string& problem) {
    throw MorphError("'" + path + "' is not a valid vQv file: " + problem);
}

[[noreturn]] void ThrowReadError(const std::string& path, std::FILE* file) {
    const int error = errno;
    if (std::ferror(file) != 0) {
        throw MorphError("Cannot read file '" + path +
                         "': " + std::generic_category().message(error != 0 ? error : EIO));
    }
    // The length was checked on opening, so the file was cut short while being read.
    throw MorphError("Cannot read file '" + path + "': it ended unexpectedly");
}

[[noreturn]] void ThrowWriteError(const std::string& path, const std::string& problem) {
    throw MorphError("Cannot write file '" + path + "': " + problem);
}

std::int32_t LittleEndian32(const unsigned char* bytes) {
    const std::uint32_t value = std::uint32_t(bytes[0]) | (std::uint32_t(bytes[1]) << 8) |
                                (std::uint32_t(bytes[2]) << 16) | (std::uint32_t(bytes[3]) << 24);
    return static_cast<std::int32_t>(value);
}

void PutLittleEndian32(unsigned char* bytes, std::uint32_t value) {
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

// Only a regular file is read: a FIFO would hold the program until some writer came along.
FilePtr OpenForReading(const std::string& path) {
    InputFile input(path);
    if (!input.ok()) {
        throw MorphError("Cannot open file '" + path + "': " + input.problem());
    }
    FilePtr file(::fdopen(input.fd(), "rb"));
    if (!file) {
        throw MorphError("Cannot open file '" + path +
                         "': " + std::generic_category().message(errno));
    }
    input.release(); // the stream closes it now
    return file;
}

// Reads the header of an open file and checks it against the file's length; the file is
// left at the first pixel cell.
VqvHeader ReadCheckedHeader(std::FILE* file, const std::string& path) {
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0) {
        ThrowReadError(path, file);
    }
    if (S_ISDIR(info.st_mode)) {
        throw MorphError("Cannot open file '" + path + "': it is a folder");
    }
    if (!S_ISREG(info.st_mode)) {
        throw MorphError("Cannot open file '" + path + "': it is not a regular file");
    }
    const std::int64_t length = info.st_size;
    if (length < kHeaderBytes) {
        ThrowNotVqv(path, "it is " + std::to_string(length) +
                              " bytes long, shorter than the 12-byte header");
    }

    unsigned char bytes[kHeaderBytes];
    errno = 0;
    if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) {
        ThrowReadError(path, file);
    }
    VqvHeader header;
    header.frames = LittleEndian32(bytes);
    header.height = LittleEndian32(bytes + 4);
    header.width = LittleEndian32(bytes + 8);

    if (header.frames < 1) {
        ThrowNotVqv(path, "its header gives a frame count of " + std::to_string(header.frames));
    }
    if (header.height < 1) {
        ThrowNotVqv(path, "its header gives a height of " + std::to_string(header.height));
    }
    if (header.width < 1) {
        ThrowNotVqv(path, "its header gives a width of " + std::to_string(header.width));
    }
    const std::int64_t pixelBytes = PixelBytes(header.frames, header.height, header.width);
    if (pixelBytes < 0) {
        ThrowNotVqv(path, "it is " + std::to_string(length) + " bytes long but its header (" +
                              Dimensions(header) + ") needs more than " +
                              std::to_string(std::numeric_limits<std::int64_t>::max()) + " bytes");
    }
    const std::int64_t expected = kHeaderBytes + pixelBytes;
    if (length != expected) {
        ThrowNotVqv(path, "it is " + std::to_string(length) + " bytes long but its header (" +
                              Dimensions(header) + ") needs " + std::to_string(expected) +
                              " bytes");
    }
    return header;
}

} // namespace

void CheckVqvWritable(const std::string& path, std::int64_t frames, int width, int height) {
    if (frames < 1) {
        ThrowWriteError(path, "there are no frames to save");
    }
    if (width < 1 || height < 1) {
        ThrowWriteError(path, "the frames are empty (" + std::to_string(width) + " x " +
                                  std::to_string(height) + " pixels)");
    }
    // The header holds the count as a signed 32-bit number; the pixels have no limit but
    // the disk.
    if (frames > std::numeric_limits<std::int32_t>::max()) {
        ThrowWriteError(path, Dimensions(frames, width, height) + " are more than the " +
                                  std::to_string(std::numeric_limits<std::int32_t>::max()) +
                                  " frames a file can hold");
    }
}

void WriteVqv(const std::string& path, const std::vector<const Bitmap*>& frames) {
    const Bitmap* first = frames.empty() ? nullptr : frames.front();
    const int width = first ? first->width() : 0;
    const int height = first ? first->height() : 0;
    CheckVqvWritable(path, std::int64_t(frames.size()), width, height);
    for (std::size_t f = 1; f < frames.size(); ++f) {
        if (!frames[f]->sameSize(*first)) {
            ThrowWriteError(
                path, "frame " + std::to_string(f) + " is " + std::to_string(frames[f]->width()) +
                          " x " + std::to_string(frames[f]->height()) + " pixels but frame 0 is " +
                          std::to_string(width) + " x " + std::to_string(height) + " pixels");
        }
    }

    VqvWriter writer(path, std::int64_t(frames.size()), width, height);
    for (const Bitmap* frame : frames) {
        writer.Add(*frame);
    }
    writer.Commit();
}

namespace {
constexpr std::size_t kChunkBytes = std::size_t(1) << 20;
} // namespace

VqvWriter::VqvWriter(const std::string& path, std::int64_t frames, int width, int height)
    : path_((CheckVqvWritable(path, frames, width, height), path)), frames_(frames), width_(width),
      height_(height), file_(path),
      row_(std::max(std::size_t(kCellBytes) * std::size_t(width), kChunkBytes)) {
    unsigned char header[kHeaderBytes];
    PutLittleEndian32(header, static_cast<std::uint32_t>(frames));
    PutLittleEndian32(header + 4, static_cast<std::uint32_t>(height));
    PutLittleEndian32(header + 8, static_cast<std::uint32_t>(width));
    file_.write(header, sizeof header);
}

void VqvWriter::Add(const Bitmap& frame) {
    if (frame.width() != width_ || frame.height() != height_ || added_ >= frames_) {
        ThrowWriteError(path_,
                        "frame " + std::to_string(added_) + " is " + std::to_string(frame.width()) +
                            " x " + std::to_string(frame.height()) + " pixels but frame 0 is " +
                            std::to_string(width_) + " x " + std::to_string(height_) + " pixels");
    }
    // Rows go out in chunks of about a mebibyte: a write call per row would be thousands of
    // calls per frame.
    const std::size_t rowBytes = std::size_t(kCellBytes) * std::size_t(width_);
    const int chunkRows = int(std::max<std::size_t>(1, row_.size() / rowBytes));
    for (int y0 = 0; y0 < height_; y0 += chunkRows) {
        const int rows = std::min(chunkRows, height_ - y0);
        for (int y = y0; y < y0 + rows; ++y) {
            const Colour* pixels = frame.row(y);
            unsigned char* row = row_.data() + rowBytes * std::size_t(y - y0);
            for (int x = 0; x < width_; ++x) {
                // Byte 3 is always written as zero, whatever the colour value holds there.
                unsigned char* cell = row + std::size_t(kCellBytes) * std::size_t(x);
                cell[0] = RedOf(pixels[x]);
                cell[1] = GreenOf(pixels[x]);
                cell[2] = BlueOf(pixels[x]);
                cell[3] = 0;
            }
        }
        file_.write(row_.data(), rowBytes * std::size_t(rows));
    }
    // The frame is written to the disk while the next ones are made, so that the final sync
    // has little left to wait for.
    file_.startWriteback();
    ++added_;
}

void VqvWriter::Commit() {
    if (added_ != frames_) {
        ThrowWriteError(path_, std::to_string(added_) + " of its " + std::to_string(frames_) +
                                   " frames were written");
    }
    file_.commit();
}

void WriteVqv(const std::string& path, const std::vector<Bitmap>& frames) {
    std::vector<const Bitmap*> pointers;
    pointers.reserve(frames.size());
    for (const Bitmap& frame : frames) {
        pointers.push_back(&frame);
    }
    WriteVqv(path, pointers);
}

VqvHeader ReadVqvHeader(const std::string& path) {
    const FilePtr file = OpenForReading(path);
    return ReadCheckedHeader(file.get(), path);
}

std::vector<Bitmap> ReadVqv(const std::string& path) {
    const FilePtr file = OpenForReading(path);
    const VqvHeader header = ReadCheckedHeader(file.get(), path);
    if (std::int64_t(header.width) * header.height > kMaxBitmapPixels) {
        throw MorphError("Cannot read file '" + path + "': its frames of " +
                         std::to_string(header.width) + " x " + std::to_string(header.height) +
                         " pixels are larger than the largest picture of " +
                         std::to_string(kMaxBitmapPixels) + " pixels");
    }
    CheckMemoryFor(PictureBytes(header.width, header.height, kCellBytes, header.frames),
                   "Cannot read file '" + path + "': its " + Dimensions(header) + " need");

    std::vector<Bitmap> frames;
    try {
        frames.reserve(std::size_t(header.frames));
        std::vector<unsigned char> row(std::size_t(kCellBytes) * std::size_t(header.width));
        for (int f = 0; f < header.frames; ++f) {
            Bitmap frame(header.width, header.height, 0);
            for (int y = 0; y < header.height; ++y) {
                errno = 0;
                if (std::fread(row.data(), 1, row.size(), file.get()) != row.size()) {
                    ThrowReadError(path, file.get());
                }
                Colour* pixels = frame.row(y);
                for (int x = 0; x < header.width; ++x) {
                    // Byte 3 of a cell carries nothing; only the colour bytes are kept.
                    const unsigned char* cell =
                        row.data() + std::size_t(kCellBytes) * std::size_t(x);
                    pixels[x] = RGB(cell[0], cell[1], cell[2]);
                }
            }
            frames.push_back(std::move(frame));
        }
    } catch (const std::bad_alloc&) {
        throw MorphError("Cannot read file '" + path + "': not enough memory for " +
                         Dimensions(header));
    }
    return frames;
}

} // namespace morph
