// The sound of a WAV file, encoded alongside the video: read, resampled and framed as the
// encoder wants, a piece at a time as the video grows, and at the end cut or padded with
// silence to the video's length.
#pragma once

#include "video/Encoding.h"

#include <cstdint>
#include <memory>
#include <string>

struct AVAudioFifo;

namespace morph::video {

class SoundTrack {
  public:
    // Opens the WAV file and its decoder. Raises SoundFault when it cannot be read.
    explicit SoundTrack(const std::string& wavPath);
    ~SoundTrack();
    SoundTrack(const SoundTrack&) = delete;
    SoundTrack& operator=(const SoundTrack&) = delete;

    // Starts the encoder and adds its stream to the muxer; packets go to `sink` with the
    // stream's index and in its time base.
    void Start(AVFormatContext& muxer, const char* encoderName, PacketSink sink);

    // Encodes the whole encoder frames that end within the video's first `ms` milliseconds.
    void EncodeUntil(std::int64_t ms);
    // Encodes up to exactly `ms` milliseconds, silence after the file's end, and ends the
    // encoder.
    void Finish(std::int64_t ms);

    AVStream* Stream() const { return stream_; }

  private:
    struct FreeFifo {
        void operator()(AVAudioFifo* fifo) const;
    };

    bool ReadMore();
    void Filter(const AVFrame* frame);
    void EncodeSamples(int count);
    std::int64_t SamplesAt(std::int64_t ms) const;

    InputPtr input_;
    int streamIndex_ = -1;
    CodecContextPtr decoder_;
    CodecContextPtr encoder_;
    AVStream* stream_ = nullptr;
    FilterGraphPtr graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    std::unique_ptr<AVAudioFifo, FreeFifo> fifo_;
    FramePtr decoded_;
    FramePtr filtered_;
    FramePtr frame_;
    PacketPtr packet_;
    PacketPtr encoded_;
    PacketSink write_;
    int frameSize_ = 0;
    bool shortLastFrame_ = false;
    bool fileDone_ = false;
    std::int64_t samplesSent_ = 0;
};

} // namespace morph::video
