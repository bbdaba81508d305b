// The entry point of the video module: the video writer behind the loader's interface.
#include "video/VideoModule.h"

#include <utility>

namespace morph {

namespace {

class WriterOutput final : public VideoOutput {
  public:
    WriterOutput(const std::string& path, VideoSettings settings)
        : writer_(path, std::move(settings)) {}
    void Add(const Bitmap& frame) override { writer_.Add(frame); }
    void Finish() override { writer_.Finish(); }

  private:
    VideoWriter writer_;
};

std::unique_ptr<VideoOutput> Open(const std::string& path, VideoSettings settings) {
    return std::make_unique<WriterOutput>(path, std::move(settings));
}

const VideoModule kModule{kVideoModuleVersion, sizeof(VideoSettings), &CheckVideoSettings, &Open};

} // namespace

} // namespace morph

extern "C" __attribute__((visibility("default"))) const morph::VideoModule* MorphVideoModule() {
    return &morph::kModule;
}
