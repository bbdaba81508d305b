#include "platform/avi/AviStore.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace morph::avi {

// ---------------------------------------------------------------------------------------
// Files the samples live in.

SampleStore::~SampleStore() {
    ::close(fd_);
}

bool SampleStore::Append(const void* data, std::size_t size, std::uint64_t& offset) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, bytes + done, size - done, off_t(end_ + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += std::size_t(n);
    }
    offset = end_;
    end_ += size;
    return true;
}

ReadStatus SampleStore::Read(std::uint64_t offset, void* out, std::size_t size) const {
    auto* bytes = static_cast<std::uint8_t*>(out);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, bytes + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return ReadStatus::Failed;
        }
        if (n == 0) {
            return ReadStatus::Short;
        }
        done += std::size_t(n);
    }
    return ReadStatus::Ok;
}

// ---------------------------------------------------------------------------------------
// Handles.

AviFile* Library::Find(const AviFile* file) {
    const auto it = files.find(file);
    return it == files.end() ? nullptr : it->second.get();
}

AviStream* Library::Find(const AviStream* stream) {
    const auto it = streams.find(stream);
    return it == streams.end() ? nullptr : it->second.get();
}

AviFile* Library::Add(std::shared_ptr<AviFile> file) {
    AviFile* handle = file.get();
    files.emplace(handle, std::move(file));
    return handle;
}

AviStream* Library::Add(std::shared_ptr<StreamData> data, const std::shared_ptr<AviFile>& file) {
    auto stream = std::make_unique<AviStream>();
    stream->data = std::move(data);
    if (file) {
        ++file->refs;
        stream->file = file;
    }
    AviStream* handle = stream.get();
    streams.emplace(handle, std::move(stream));
    return handle;
}

std::int32_t Library::Release(AviFile* file) {
    const std::int32_t left = --file->refs;
    if (left <= 0) {
        files.erase(file);
    }
    return left;
}

std::int32_t Library::Release(AviStream* stream) {
    const std::int32_t left = --stream->refs;
    if (left <= 0) {
        const std::shared_ptr<AviFile> file = stream->file.lock();
        streams.erase(stream);
        if (file && Find(file.get()) != nullptr) {
            Release(file.get());
        }
    }
    return left;
}

Library& Lib() {
    static Library library;
    return library;
}

bool HasExtension(const std::string& path, const char* extension) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return false;
    }
    const std::string ext = path.substr(dot);
    return ext.size() == std::strlen(extension) &&
           std::equal(ext.begin(), ext.end(), extension, [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

} // namespace morph::avi
