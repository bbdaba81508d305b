// TAviWriter: writes a list of bitmaps as an uncompressed AVI video, every frame a 24-bit
// key frame at a fixed frame time, optionally with the sound of a WAV file as a second
// stream. The frames go into a work file first; the final file is saved from the work
// file's video stream (and the WAV's sound stream) and appears only when it is complete.
#pragma once

#include "platform/AviFile.h"
#include "platform/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morph {

// Bytes of one row of a 24-bit DIB: three per pixel, padded to a multiple of four.
std::int64_t DibRowBytes(std::int64_t width);

// The header of a bitmap's 24-bit bottom-up DIB. Raises "Invalid bitmap" for a bitmap
// without pixels.
BitmapInfoHeader PrepareDibHeader(const Bitmap& bitmap);

struct DibSize {
    std::size_t headerBytes = 0;
    std::size_t pixelBytes = 0;
};
DibSize MeasureDib(const Bitmap& bitmap);

// Fills `header` and `pixels` (MeasureDib's pixelBytes long): rows from the bottom one
// up, each pixel blue, green, red, each row padded with zeros.
void ReadDibPixels(const Bitmap& bitmap, BitmapInfoHeader& header, std::uint8_t* pixels);

// The work file's name is "~AWTemp", six random characters and ".avi", in the temporary
// folder.
inline constexpr const char* kWorkFilePrefix = "~AWTemp";
inline constexpr const char* kWorkFileExtension = ".avi";

class TAviWriter {
  public:
    // Start values: a tenth of the screen's size, one frame per second, bitmaps scaled.
    TAviWriter();
    ~TAviWriter();
    TAviWriter(const TAviWriter&) = delete;
    TAviWriter& operator=(const TAviWriter&) = delete;

    std::int32_t Height;
    std::int32_t Width;
    std::int32_t FrameTime = 1000; // milliseconds per frame
    bool Stretch = true;           // scale each bitmap to the frame, else draw it at the top left
    std::string FileName;

    // One frame per entry, in order; the writer does not own the bitmaps.
    std::vector<const Bitmap*> Bitmaps;

    const std::string& WavFileName() const { return WavFileName_; }
    // Names the WAV file whose sound goes into the video; "" for none. A name equal to the
    // current one in any letter case changes nothing; any other must end in ".wav" (any
    // case), else "WavFileName must name a file with the .wav extension" is raised and the
    // old name stays.
    void ChangeWavFileName(const std::string& name);

    // Writes FileName. Raises MorphError with the failure's message; the work file is
    // removed and FileName is left as it was whatever happens.
    void WriteAviFile();

    // The same write with the frames handed over one at a time instead of Bitmaps, so that a
    // caller need not hold them all: BeginFrames, AddFrame for each frame in order, then
    // FinishFrames, which saves FileName. The messages are WriteAviFile's; after a failure,
    // or when the writer goes before FinishFrames, the work file is removed and FileName is
    // left as it was.
    void BeginFrames();
    void AddFrame(const Bitmap& bitmap);
    void FinishFrames();

    // The folder of the work files, taken at construction.
    const std::string& TempFolder() const { return TempFolder_; }
    // The work file of the current or last WriteAviFile ("" before it was created).
    const std::string& TempFileName() const { return TempFileName_; }

  private:
    void AttachWavStream();
    void CleanUp() noexcept;

    std::string WavFileName_;
    std::string TempFolder_;
    std::string TempFileName_;
    AviFile* WorkFile = nullptr;
    AviStream* VideoStream = nullptr;
    AviStream* AudioStream = nullptr;
    AviStream* RawStream = nullptr; // the work file's video stream while frames come in
    std::int32_t FramesAdded = 0;
    Bitmap Work;                         // a frame drawn to the video's size
    std::vector<std::uint8_t> DibPixels; // one frame as 24-bit rows
};

// Runs writer.WriteAviFile(). The writer's messages name no file, so a failure is raised with
// the video's name, and the sound file's when there is one, in front of the writer's message:
// "Cannot write the video 'clip.avi': Unable to write output file".
void WriteAviFileNamingFiles(TAviWriter& writer);

} // namespace morph
