#include "video/Encoding.h"

#include "video/VideoFaults.h"

namespace morph::video {

void Encode(AVCodecContext& encoder, const AVFrame* frame, AVPacket& packet,
            const PacketSink& sink) {
    int result = avcodec_send_frame(&encoder, frame);
    while (result >= 0) {
        result = avcodec_receive_packet(&encoder, &packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) {
            return;
        }
        if (result >= 0) {
            sink(packet);
            av_packet_unref(&packet);
        }
    }
    throw VideoFault(std::string("the ") + encoder.codec->name +
                     " encoder failed: " + ExplainedError(result));
}

} // namespace morph::video
