// The calls of the AVI layer: each takes the library's lock, checks its handles and runs its
// work guarded, so that nothing it meets escapes as an exception.
#include "platform/AviFile.h"

#include "platform/avi/AviLayout.h"
#include "platform/avi/AviStore.h"

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>

namespace morph {

using avi::Guarded;
using avi::HasExtension;
using avi::kMaxRateOrScale;
using avi::kWaveFormatBytes;
using avi::Le32;
using avi::Lib;
using avi::Library;
using avi::OpenWav;
using avi::Piece;
using avi::SampleStore;
using avi::SaveStream;
using avi::StreamData;

namespace {

// Runs `body(lib)` under the library's lock once the layer is initialised.
template <class Body> AviResult WithLibrary(Body&& body) {
    Library& lib = Lib();
    const std::lock_guard lock(lib.mutex);
    if (lib.users == 0) {
        return CO_E_NOTINITIALIZED;
    }
    return body(lib);
}

// Runs `body(lib, found)` under the library's lock once `handle` is known to be one of ours.
template <class Handle, class Body> AviResult WithHandle(Handle* handle, Body&& body) {
    return WithLibrary([&](Library& lib) {
        Handle* found = lib.Find(handle);
        return found == nullptr ? AVIERR_BADHANDLE : body(lib, found);
    });
}

} // namespace

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
    return WithLibrary([&](Library& lib) {
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
    });
}

AviResult AVIFileCreateUniqueA(AviFile** file, const std::string& folder, const std::string& prefix,
                               const std::string& extension, std::string& path) {
    if (file == nullptr) {
        return AVIERR_BADPARAM;
    }
    *file = nullptr;
    return WithLibrary([&](Library& lib) {
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
    });
}

AviResult AVIFileCreateStreamA(AviFile* file, AviStream** stream, const AviStreamInfo& info) {
    if (stream == nullptr) {
        return AVIERR_BADPARAM;
    }
    *stream = nullptr;
    return WithHandle(file, [&](Library& lib, AviFile* owner) {
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
    });
}

AviResult AVIStreamSetFormat(AviStream* stream, std::int32_t position, const void* format,
                             std::int32_t size) {
    return WithHandle(stream, [&](Library&, AviStream* found) {
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
    });
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
    return WithHandle(stream, [&](Library&, AviStream* found) {
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
    });
}

AviResult AVIStreamInfoA(AviStream* stream, AviStreamInfo* info) {
    if (info == nullptr) {
        return AVIERR_BADPARAM;
    }
    return WithHandle(stream, [&](Library&, AviStream* found) {
        *info = found->data->info;
        info->dwLength = std::uint32_t(found->data->Length());
        info->dwSuggestedBufferSize =
            std::max(info->dwSuggestedBufferSize, found->data->largestPiece);
        return AVIERR_OK;
    });
}

AviResult AVIFileGetStream(AviFile* file, AviStream** stream, std::uint32_t type,
                           std::int32_t index) {
    if (stream == nullptr) {
        return AVIERR_BADPARAM;
    }
    *stream = nullptr;
    return WithHandle(file, [&](Library& lib, AviFile* owner) {
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
    });
}

AviResult CreateEditableStream(AviStream** editable, AviStream* source) {
    if (editable == nullptr) {
        return AVIERR_BADPARAM;
    }
    *editable = nullptr;
    return WithHandle(source, [&](Library& lib, AviStream* found) {
        return Guarded(AVIERR_INTERNAL, [&] {
            auto copy = std::make_shared<StreamData>(*found->data);
            copy->writable = false;
            *editable = lib.Add(std::move(copy), nullptr);
            return AVIERR_OK;
        });
    });
}

std::int32_t AVIStreamRelease(AviStream* stream) {
    return WithHandle(stream, [](Library& lib, AviStream* found) { return lib.Release(found); });
}

std::int32_t AVIFileRelease(AviFile* file) {
    return WithHandle(file, [](Library& lib, AviFile* found) { return lib.Release(found); });
}

AviResult AVISaveV(const std::string& path, int streamCount, AviStream* const* streams) {
    return avi::SaveStreams(path, streamCount, streams, avi::kRiffLimit);
}

AviResult avi::SaveStreams(const std::string& path, int streamCount, AviStream* const* streams,
                           std::uint64_t riffLimit) {
    std::vector<SaveStream> saved;
    const AviResult taken = WithLibrary([&](Library& lib) {
        if (streamCount < 1 || streamCount > 99 || streams == nullptr) {
            return AVIERR_BADPARAM;
        }
        if (!HasExtension(path, ".avi")) {
            return REGDB_E_CLASSNOTREG;
        }
        return Guarded(AVIERR_INTERNAL, [&] {
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
    });
    if (taken != AVIERR_OK) {
        return taken;
    }
    return Guarded(AVIERR_FILEWRITE, [&] { return SaveAvi(path, saved, riffLimit); });
}

} // namespace morph
