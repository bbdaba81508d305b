#include "platform/PngWriter.h"

#include "platform/AtomicFile.h"
#include "platform/MorphError.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <vector>

namespace morph {

namespace {

struct Output {
    std::string bytes;
    char error[200] = {};
};

// libpng's callbacks run inside libpng and leave by longjmp: they neither throw nor allocate
// after an error.
void OnError(png_structp png, png_const_charp message) {
    auto* out = static_cast<Output*>(png_get_io_ptr(png));
    std::strncpy(out->error, message, sizeof out->error - 1);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnWrite(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Output*>(png_get_io_ptr(png));
    try {
        out->bytes.append(reinterpret_cast<const char*>(data), size);
    } catch (...) {
        std::strncpy(out->error, "out of memory", sizeof out->error - 1);
        png_longjmp(png, 1);
    }
}

void OnFlush(png_structp) {}

} // namespace

std::string EncodePng(const Bitmap& bitmap, const std::string& path) {
    if (bitmap.empty()) {
        throw MorphError("Cannot write the picture '" + path + "': the picture is empty");
    }
    Output out;
    std::vector<png_byte> row(std::size_t(bitmap.width()) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &out, OnError, OnWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, &info);
        throw MorphError("Cannot write the picture '" + path + "': out of memory");
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw MorphError("Cannot write the picture '" + path + "': " + out.error);
    }
    png_set_write_fn(png, &out, OnWrite, OnFlush);
    png_set_IHDR(png, info, png_uint_32(bitmap.width()), png_uint_32(bitmap.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_write_info(png, info);
    for (int y = 0; y < bitmap.height(); ++y) {
        const Colour* pixels = bitmap.row(y);
        for (int x = 0; x < bitmap.width(); ++x) {
            png_byte* cell = row.data() + std::size_t(x) * 3;
            cell[0] = RedOf(pixels[x]);
            cell[1] = GreenOf(pixels[x]);
            cell[2] = BlueOf(pixels[x]);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::move(out.bytes);
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
    AtomicFile file(path);
    file.write(bytes.data(), bytes.size());
    file.commit();
}

} // namespace morph
