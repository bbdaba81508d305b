#include "video/VideoModule.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

namespace morph {

namespace {

namespace fs = std::filesystem;

constexpr const char* kModuleName = "libmorph-video.so";

// Where the module may be: beside the running program (where the build and an installed
// copy put it), then where this build wrote it (for test programs in other folders).
std::vector<fs::path> Candidates() {
    std::vector<fs::path> paths;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        paths.push_back(program.parent_path() / kModuleName);
    }
#ifdef MORPH_VIDEO_MODULE_PATH
    paths.emplace_back(MORPH_VIDEO_MODULE_PATH);
#endif
    return paths;
}

// The module, or why it could not be loaded.
struct Loaded {
    const VideoModule* module = nullptr;
    std::string why;
};

Loaded Load() {
    Loaded loaded;
    for (const fs::path& path : Candidates()) {
        std::error_code error;
        if (!fs::is_regular_file(path, error)) {
            continue;
        }
        // Never closed: the writers it made may outlive any one caller.
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* message = ::dlerror();
            loaded.why = "the video module could not be loaded: " +
                         std::string(message != nullptr ? message : path.string());
            return loaded;
        }
        using Entry = const VideoModule* (*)();
        const auto entry = reinterpret_cast<Entry>(::dlsym(handle, "MorphVideoModule"));
        const VideoModule* module = entry != nullptr ? entry() : nullptr;
        if (module == nullptr || module->version != kVideoModuleVersion ||
            module->settingsSize != sizeof(VideoSettings)) {
            loaded.why = "the video module " + path.string() + " belongs to another build";
            return loaded;
        }
        loaded.module = module;
        return loaded;
    }
    loaded.why = std::string("the video module ") + kModuleName + " is not installed";
    return loaded;
}

} // namespace

const VideoModule& LoadVideoModule(const std::string& videoPath) {
    static std::once_flag once;
    static Loaded loaded;
    std::call_once(once, [] { loaded = Load(); });
    if (loaded.module == nullptr) {
        throw MorphError("Cannot write the video '" + videoPath + "': " + loaded.why);
    }
    return *loaded.module;
}

} // namespace morph
