// Pushing frames through an encoder and its packets into the file.
#pragma once

#include "video/FfmpegSupport.h"

#include <functional>

namespace morph::video {

// Receives each packet the encoder gives, in its encoder's time base.
using PacketSink = std::function<void(AVPacket& packet)>;

// Sends `frame` (nullptr: the end) to the encoder and hands every packet it has ready to
// `sink`. Raises VideoFault naming the encoder when it fails.
void Encode(AVCodecContext& encoder, const AVFrame* frame, AVPacket& packet,
            const PacketSink& sink);

} // namespace morph::video
