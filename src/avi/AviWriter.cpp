#include "avi/AviWriter.h"

#include "platform/MorphError.h"
#include "platform/ScreenSize.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include <unistd.h>

namespace morph {

namespace {

// Runs a clean-up step when the scope ends, also when it ends by an exception.
template <typename Step> class Finally {
  public:
    explicit Finally(Step step) : step_(std::move(step)) {}
    ~Finally() { step_(); }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

  private:
    Step step_;
};

std::string Lower(std::string text) {
    for (char& c : text) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// From the last "." of the file name on; "" when the file name has none.
std::string ExtensionOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return {};
    }
    return path.substr(dot);
}

std::string Hex8(std::int32_t code) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(std::uint32_t(code)));
    return text;
}

std::string TempFolderOfSystem() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? std::string(folder) : std::string("/tmp");
}

std::string WavOpenMessage(AviResult result) {
    switch (result) {
    case REGDB_E_CLASSNOTREG:
        return "According to the registry, the type of audio file specified in AVIFileOpen does "
               "not have a handler to process it.";
    case AVIERR_BADFORMAT:
        return "The file could not be read, indicating a corrupt file or an unrecognized format.";
    case AVIERR_MEMORY:
        return "The file could not be opened because of insufficient memory.";
    case AVIERR_FILEREAD:
        return "A disk error occurred while reading the audio file.";
    case AVIERR_FILEOPEN:
        return "A disk error occurred while opening the audio file.";
    default:
        return "Unknown error opening audio file";
    }
}

// Scales the entry over the whole frame, each frame pixel taking the entry pixel under its
// centre.
void StretchDraw(const Bitmap& entry, Bitmap& frame) {
    const std::int64_t w = entry.width();
    const std::int64_t h = entry.height();
    const int width = frame.width();
    const int height = frame.height();
    if (w == width && h == height) {
        std::copy(entry.data(), entry.data() + entry.pixelCount(), frame.data());
        return;
    }
    std::vector<int> columns(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        columns[std::size_t(x)] = int((2 * std::int64_t(x) + 1) * w / (2 * std::int64_t(width)));
    }
    for (int y = 0; y < height; ++y) {
        const Colour* source =
            entry.row(int((2 * std::int64_t(y) + 1) * h / (2 * std::int64_t(height))));
        Colour* target = frame.row(y);
        for (int x = 0; x < width; ++x) {
            target[x] = source[columns[std::size_t(x)]];
        }
    }
}

// One frame from one entry. Unscaled, the entry sits at the top left, cropped where it is
// larger than the frame, and the rest of the frame takes its top-left colour. An entry
// without pixels gives a white frame.
void DrawFrame(const Bitmap& entry, Bitmap& frame, bool stretch) {
    if (entry.empty()) {
        frame.fill(kWhite);
    } else if (stretch) {
        StretchDraw(entry, frame);
    } else {
        frame.fill(entry.pixel(0, 0));
        const int width = std::min(entry.width(), frame.width());
        const int height = std::min(entry.height(), frame.height());
        for (int y = 0; y < height; ++y) {
            std::copy(entry.row(y), entry.row(y) + width, frame.row(y));
        }
    }
}

} // namespace

std::int64_t DibRowBytes(std::int64_t width) {
    return ((width * 24 + 31) & ~std::int64_t(31)) / 8;
}

BitmapInfoHeader PrepareDibHeader(const Bitmap& bitmap) {
    const std::int64_t bytes = DibRowBytes(bitmap.width()) * bitmap.height();
    if (bitmap.empty() || bytes > std::numeric_limits<std::int32_t>::max()) {
        throw MorphError("Invalid bitmap");
    }
    BitmapInfoHeader header;
    header.biSize = sizeof(BitmapInfoHeader);
    header.biWidth = bitmap.width();
    header.biHeight = bitmap.height();
    header.biBitCount = 24;
    header.biPlanes = 1;
    header.biCompression = 0;
    header.biSizeImage = std::uint32_t(bytes);
    return header;
}

DibSize MeasureDib(const Bitmap& bitmap) {
    const BitmapInfoHeader header = PrepareDibHeader(bitmap);
    return {sizeof header, header.biSizeImage};
}

void ReadDibPixels(const Bitmap& bitmap, BitmapInfoHeader& header, std::uint8_t* pixels) {
    header = PrepareDibHeader(bitmap);
    const int width = bitmap.width();
    const int height = bitmap.height();
    const std::size_t rowBytes = std::size_t(DibRowBytes(width));
    for (int line = 0; line < height; ++line) {
        const Colour* source = bitmap.row(height - 1 - line);
        std::uint8_t* target = pixels + std::size_t(line) * rowBytes;
        for (int x = 0; x < width; ++x) {
            *target++ = BlueOf(source[x]);
            *target++ = GreenOf(source[x]);
            *target++ = RedOf(source[x]);
        }
        std::fill(target, pixels + std::size_t(line + 1) * rowBytes, std::uint8_t(0));
    }
}

TAviWriter::TAviWriter() {
    const ScreenSize screen = ScreenPixels();
    Height = screen.height / 10;
    Width = screen.width / 10;
    AVIFileInit();
    TempFolder_ = TempFolderOfSystem();
}

TAviWriter::~TAviWriter() {
    if (WorkFile != nullptr || RawStream != nullptr) {
        CleanUp(); // frames begun and never finished
    }
    AVIFileExit();
}

void TAviWriter::ChangeWavFileName(const std::string& name) {
    if (Lower(name) == Lower(WavFileName_)) {
        return;
    }
    if (Lower(ExtensionOf(name)) != ".wav") {
        throw MorphError("WavFileName must name a file with the .wav extension");
    }
    WavFileName_ = name;
}

void TAviWriter::WriteAviFile() {
    VideoStream = nullptr;
    AudioStream = nullptr;
    if (Bitmaps.empty()) {
        throw MorphError("No bitmaps on the Bitmaps list");
    }
    for (std::size_t i = 0; i < Bitmaps.size(); ++i) {
        if (Bitmaps[i] == nullptr) {
            throw MorphError("Bitmaps[" + std::to_string(i) + "] is not a TBitmap");
        }
    }
    BeginFrames();
    for (const Bitmap* bitmap : Bitmaps) {
        AddFrame(*bitmap);
    }
    FinishFrames();
}

void TAviWriter::BeginFrames() {
    if (WorkFile != nullptr || RawStream != nullptr) {
        CleanUp(); // an earlier write left unfinished
    }
    TempFileName_.clear();
    FramesAdded = 0;
    try {
        std::string workPath;
        if (AVIFileCreateUniqueA(&WorkFile, TempFolder_, kWorkFilePrefix, kWorkFileExtension,
                                 workPath) != AVIERR_OK) {
            throw MorphError("Failed to create AVI video work file");
        }
        TempFileName_ = workPath;

        AviStreamInfo info;
        info.fccType = streamtypeVIDEO;
        info.dwScale = std::uint32_t(FrameTime);
        info.dwRate = 1000;
        info.rcFrame = {0, 0, Width, Height};
        if (AVIFileCreateStreamA(WorkFile, &RawStream, info) != AVIERR_OK) {
            RawStream = nullptr;
            throw MorphError("Failed to create AVI video stream");
        }
    } catch (...) {
        CleanUp();
        throw;
    }
}

void TAviWriter::AddFrame(const Bitmap& bitmap) {
    try {
        if (RawStream == nullptr) {
            throw MorphError("Failed to add frame to AVI. Err=" + Hex8(AVIERR_BADHANDLE));
        }
        // A frame of the video's size goes in as it is, which is what drawing it unscaled
        // or scaled gives; any other is drawn first. A frame size that is not positive
        // leaves the work bitmap without pixels, which the conversion refuses as an invalid
        // bitmap.
        const Bitmap* frame = &bitmap;
        if (bitmap.empty() || bitmap.width() != Width || bitmap.height() != Height) {
            if (Work.width() != std::max(Width, 0) || Work.height() != std::max(Height, 0)) {
                Work = Bitmap(std::max(Width, 0), std::max(Height, 0));
            }
            DrawFrame(bitmap, Work, Stretch);
            frame = &Work;
        }
        const DibSize size = MeasureDib(*frame);
        std::vector<std::uint8_t> header(size.headerBytes);
        DibPixels.resize(size.pixelBytes);
        BitmapInfoHeader dib;
        ReadDibPixels(*frame, dib, DibPixels.data());
        std::memcpy(header.data(), &dib, sizeof dib);
        if (FramesAdded == 0 && AVIStreamSetFormat(RawStream, 0, header.data(),
                                                   std::int32_t(header.size())) != AVIERR_OK) {
            throw MorphError("Failed to set AVI stream format");
        }
        const AviResult written =
            AVIStreamWrite(RawStream, FramesAdded, 1, DibPixels.data(),
                           std::int32_t(dib.biSizeImage), AVIIF_KEYFRAME, nullptr, nullptr);
        if (written != AVIERR_OK) {
            throw MorphError("Failed to add frame to AVI. Err=" + Hex8(written));
        }
        ++FramesAdded;
    } catch (...) {
        CleanUp();
        throw;
    }
}

void TAviWriter::FinishFrames() {
    const Finally cleanUp([this] { CleanUp(); });
    if (RawStream == nullptr || FramesAdded == 0) {
        throw MorphError("No bitmaps on the Bitmaps list");
    }
    if (CreateEditableStream(&VideoStream, RawStream) != AVIERR_OK) {
        VideoStream = nullptr;
        throw MorphError("Could not create Video Stream");
    }
    AVIStreamRelease(RawStream);
    RawStream = nullptr;
    if (!WavFileName_.empty()) {
        AttachWavStream();
    }
    AviStream* const streams[2] = {VideoStream, AudioStream};
    if (AVISaveV(FileName, WavFileName_.empty() ? 1 : 2, streams) != AVIERR_OK) {
        throw MorphError("Unable to write output file");
    }
}

void TAviWriter::AttachWavStream() {
    AviFile* wav = nullptr;
    const AviResult opened = AVIFileOpenA(&wav, WavFileName_, OF_READ);
    if (opened != AVIERR_OK) {
        throw MorphError(WavOpenMessage(opened));
    }
    const Finally releaseWav([wav] { AVIFileRelease(wav); });

    AviStream* sound = nullptr;
    if (AVIFileGetStream(wav, &sound, 0, 0) != AVIERR_OK) {
        throw MorphError("Unable to get audio stream");
    }
    const Finally releaseSound([sound] { AVIStreamRelease(sound); });

    if (CreateEditableStream(&AudioStream, sound) != AVIERR_OK) {
        AudioStream = nullptr;
        throw MorphError("Failed to create editable AVI audio stream");
    }
}

void TAviWriter::CleanUp() noexcept {
    if (RawStream != nullptr) {
        AVIStreamRelease(RawStream);
        RawStream = nullptr;
    }
    if (VideoStream != nullptr) {
        AVIStreamRelease(VideoStream);
        VideoStream = nullptr;
    }
    if (AudioStream != nullptr) {
        AVIStreamRelease(AudioStream);
        AudioStream = nullptr;
    }
    // Streams taken from the work file hold references on it; whatever is left goes here.
    if (WorkFile != nullptr) {
        while (AVIFileRelease(WorkFile) > 0) {
        }
    }
    WorkFile = nullptr;
    if (!TempFileName_.empty()) {
        ::unlink(TempFileName_.c_str());
    }
    DibPixels = {};
    Work = Bitmap();
}

void WriteAviFileNamingFiles(TAviWriter& writer) {
    try {
        writer.WriteAviFile();
    } catch (const MorphError& e) {
        std::string files = "'" + writer.FileName + "'";
        if (!writer.WavFileName().empty()) {
            files += " with the sound of '" + writer.WavFileName() + "'";
        }
        throw MorphError("Cannot write the video " + files + ": " + e.message());
    }
}

} // namespace morph
