// The WAV reader on arbitrary bytes, and the save of the sound stream it gives. Properties:
// a file is opened or refused with a result code; an opened file's stream has a usable
// rate, whole blocks and no more samples than the file holds; an editable copy outlives the
// file; saving that stream as an AVI succeeds, stays in proportion to the input and leaves
// no temporary behind.
#include "FuzzSupport.h"

#include "platform/AviFile.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <sys/stat.h>

namespace {

using morph::fuzz::Check;
using morph::fuzz::WorkFolder;

constexpr std::uint32_t kMaxRate = std::uint32_t(std::numeric_limits<std::int32_t>::max());

void SaveSound(morph::AviStream* sound, std::size_t inputSize) {
    const WorkFolder& folder = WorkFolder::Get();
    const std::string output = folder.file("sound.avi");
    morph::AviStream* const streams[1] = {sound};
    Check(morph::AVISaveV(output, 1, streams) == morph::AVIERR_OK,
          "saving an accepted sound stream failed");
    struct stat info {};
    Check(::stat(output.c_str(), &info) == 0, "the saved file is missing");
    // At worst every sample byte becomes its own chunk: header, pad byte and index entry.
    Check(std::uint64_t(info.st_size) <= 32 * std::uint64_t(inputSize) + 4096,
          "the saved file is out of proportion to the input");
    Check(folder.holdsOnly({"input.wav", "sound.avi"}), "a temporary file was left behind");
    morph::fuzz::Remove(output);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    morph::AVIFileInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = WorkFolder::Get().file("input.wav");
    morph::fuzz::WriteFile(input, data, size);

    morph::AviFile* file = nullptr;
    const morph::AviResult opened = morph::AVIFileOpenA(&file, input, morph::OF_READ);
    if (opened != morph::AVIERR_OK) {
        Check(file == nullptr, "a refused file gave a handle");
        Check(opened == morph::AVIERR_BADFORMAT, "a readable file was refused for another reason");
        return 0;
    }
    Check(file != nullptr, "an opened file gave no handle");

    morph::AviStream* stream = nullptr;
    const morph::AviResult found = morph::AVIFileGetStream(file, &stream, 0, 0);
    if (found != morph::AVIERR_OK) {
        Check(found == morph::AVIERR_NODATA && stream == nullptr, "no stream, but no NODATA");
        Check(morph::AVIFileRelease(file) == 0, "the file is still referenced");
        return 0;
    }

    morph::AviStreamInfo info;
    Check(morph::AVIStreamInfoA(stream, &info) == morph::AVIERR_OK, "no stream header");
    Check(info.fccType == morph::streamtypeAUDIO, "a WAV stream that is not sound");
    Check(info.dwSampleSize != 0 && info.dwSampleSize == info.dwScale, "unusable block size");
    Check(info.dwRate != 0 && info.dwRate <= kMaxRate, "unusable byte rate");
    Check(std::uint64_t(info.dwLength) * info.dwSampleSize + 12 <= size,
          "more samples than the file holds");

    morph::AviStream* editable = nullptr;
    Check(morph::CreateEditableStream(&editable, stream) == morph::AVIERR_OK, "no editable copy");
    // The copy must keep its samples readable once the stream and the file are closed.
    Check(morph::AVIStreamRelease(stream) == 0, "the stream is still referenced");
    Check(morph::AVIFileRelease(file) == 0, "the file is still referenced");
    SaveSound(editable, size);
    Check(morph::AVIStreamRelease(editable) == 0, "the copy is still referenced");
    return 0;
}
