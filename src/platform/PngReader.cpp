#include "platform/PngReader.h"

#include <png.h>

#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace morph {

// Rows are decoded as the bytes R, G, B, 0, which is a Colour only on a little-endian machine.
static_assert(std::endian::native == std::endian::little);

// Everything libpng's callbacks touch. They run inside libpng's C frames and leave them with
// longjmp, so they neither allocate nor throw: the reason goes into a fixed buffer.
struct PngReader::State {
    int fd = -1;
    std::int64_t offset = 0;
    const char* endMessage = "the file ends before its pixel data does";
    char error[256] = {};
    png_structp png = nullptr;
    png_infop info = nullptr;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool header = false;
};

namespace {

using State = PngReader::State;

void Fail(png_structp png, const char* reason) {
    auto* state = static_cast<State*>(png_get_error_ptr(png));
    std::snprintf(state->error, sizeof state->error, "%s", reason);
    png_longjmp(png, 1);
}

void OnError(png_structp png, png_const_charp message) {
    Fail(png, message != nullptr ? message : "the PNG data is faulty");
}

void OnWarning(png_structp, png_const_charp) {} // what libpng passes over, we pass over

void ReadBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* state = static_cast<State*>(png_get_io_ptr(png));
    while (length > 0) {
        const ssize_t got = ::pread(state->fd, data, length, state->offset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            Fail(png, std::strerror(errno));
        }
        if (got == 0) {
            Fail(png, state->endMessage);
        }
        data += got;
        length -= png_size_t(got);
        state->offset += got;
    }
}

} // namespace

bool IsPngSignature(const unsigned char* bytes, std::size_t size) {
    return size >= 8 && png_sig_cmp(bytes, 0, 8) == 0;
}

PngReader::PngReader(int fd) : state_(std::make_unique<State>()) {
    state_->fd = fd;
    state_->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state_.get(), OnError, OnWarning);
    if (state_->png != nullptr) {
        state_->info = png_create_info_struct(state_->png);
        png_set_read_fn(state_->png, state_.get(), ReadBytes);
    }
}

PngReader::~PngReader() {
    if (state_->png != nullptr) {
        png_destroy_read_struct(&state_->png, state_->info != nullptr ? &state_->info : nullptr,
                                nullptr);
    }
}

bool PngReader::readHeader() {
    State& s = *state_;
    if (s.png == nullptr || s.info == nullptr) {
        std::snprintf(s.error, sizeof s.error, "%s", "not enough memory for the PNG reader");
        return false;
    }
    if (setjmp(png_jmpbuf(s.png))) {
        return false;
    }
    png_read_info(s.png, s.info);
    s.width = png_get_image_width(s.png, s.info);
    s.height = png_get_image_height(s.png, s.info);

    // Whatever is stored becomes 8-bit R, G, B and a zero byte: a Colour in memory.
    const int type = png_get_color_type(s.png, s.info);
    if (type == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(s.png);
    }
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_expand_gray_1_2_4_to_8(s.png);
        png_set_gray_to_rgb(s.png);
    }
    png_set_scale_16(s.png);
    png_set_strip_alpha(s.png);
    png_set_filler(s.png, 0, PNG_FILLER_AFTER);
    png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    if (png_get_rowbytes(s.png, s.info) != png_size_t(s.width) * 4) {
        Fail(s.png, "its pixel format cannot be converted");
    }
    s.header = true;
    return true;
}

std::int64_t PngReader::width() const {
    return state_->width;
}

std::int64_t PngReader::height() const {
    return state_->height;
}

std::int64_t PngReader::decoderBytes() const {
    // A row and the previous one, at up to 8 bytes a pixel (16-bit RGBA).
    return std::int64_t(state_->height) * std::int64_t(sizeof(png_bytep)) +
           2 * (std::int64_t(state_->width) * 8 + 64);
}

bool PngReader::read(Bitmap& bitmap) {
    State& s = *state_;
    if (!s.header || bitmap.width() != std::int64_t(s.width) ||
        bitmap.height() != std::int64_t(s.height)) {
        std::snprintf(s.error, sizeof s.error, "%s", "the picture has not been prepared");
        return false;
    }
    std::vector<png_bytep> rows(s.height);
    for (png_uint_32 y = 0; y < s.height; ++y) {
        rows[y] = reinterpret_cast<png_bytep>(bitmap.row(int(y)));
    }
    if (setjmp(png_jmpbuf(s.png))) {
        return false;
    }
    png_read_image(s.png, rows.data());
    s.endMessage = "the file ends before its end chunk";
    png_read_end(s.png, nullptr);
    return true;
}

std::string PngReader::error() const {
    return state_->error;
}

} // namespace morph
