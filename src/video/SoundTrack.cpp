#include "video/SoundTrack.h"

#include "video/VideoFaults.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/samplefmt.h>
}

#include <algorithm>
#include <new>
#include <utility>

namespace morph::video {

namespace {

std::string LayoutName(const AVChannelLayout& layout) {
    char name[128] = {};
    av_channel_layout_describe(&layout, name, sizeof name);
    return name;
}

// The encoder's rate nearest to what the file has: the file's own when the encoder takes it,
// else 48 kHz, which every sound encoder here takes.
int EncoderRate(const AVCodec& codec, int fileRate) {
    if (codec.supported_samplerates == nullptr) {
        return fileRate;
    }
    for (const int* rate = codec.supported_samplerates; *rate != 0; ++rate) {
        if (*rate == fileRate) {
            return fileRate;
        }
    }
    return 48000;
}

} // namespace

void SoundTrack::FreeFifo::operator()(AVAudioFifo* fifo) const {
    av_audio_fifo_free(fifo);
}

SoundTrack::SoundTrack(const std::string& wavPath)
    : decoded_(NewFrame()), filtered_(NewFrame()), frame_(NewFrame()), packet_(NewPacket()),
      encoded_(NewPacket()) {
    KeepLibraryLogQuiet();
    ClearLibraryMessage();
    AVFormatContext* context = nullptr;
    // The content must be WAV whatever the name says.
    int result =
        avformat_open_input(&context, wavPath.c_str(), av_find_input_format("wav"), nullptr);
    if (result < 0) {
        throw SoundFault(result == AVERROR_INVALIDDATA ? "it is not a WAV file that can be read"
                                                       : ErrorText(result));
    }
    input_.reset(context);
    const AVCodec* codec = nullptr;
    streamIndex_ = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (streamIndex_ == AVERROR_DECODER_NOT_FOUND) {
        throw SoundFault("its sound is stored in a form that cannot be read");
    }
    if (streamIndex_ < 0) {
        throw SoundFault("it holds no sound");
    }
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_) {
        throw std::bad_alloc();
    }
    result =
        avcodec_parameters_to_context(decoder_.get(), context->streams[streamIndex_]->codecpar);
    if (result >= 0) {
        result = avcodec_open2(decoder_.get(), codec, nullptr);
    }
    if (result < 0) {
        throw SoundFault("its sound cannot be read: " + ExplainedError(result));
    }
    if (decoder_->sample_rate <= 0 || decoder_->ch_layout.nb_channels <= 0) {
        throw SoundFault("it gives no sample rate or no channels");
    }
    // Frames whose channels have no names get the usual ones for their count, so that they
    // can be mixed down.
    if (decoder_->ch_layout.order != AV_CHANNEL_ORDER_NATIVE) {
        const int channels = decoder_->ch_layout.nb_channels;
        av_channel_layout_uninit(&decoder_->ch_layout);
        av_channel_layout_default(&decoder_->ch_layout, channels);
    }
}

SoundTrack::~SoundTrack() = default;

void SoundTrack::Start(AVFormatContext& muxer, const char* encoderName, PacketSink sink) {
    write_ = [this, sink = std::move(sink)](AVPacket& packet) {
        packet.stream_index = stream_->index;
        av_packet_rescale_ts(&packet, encoder_->time_base, stream_->time_base);
        sink(packet);
    };
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    if (codec == nullptr) {
        throw VideoFault(std::string("FFmpeg's libraries here have no ") + encoderName +
                         " sound encoder");
    }
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) {
        throw std::bad_alloc();
    }
    AVCodecContext& encoder = *encoder_;
    // Mono stays mono; anything with more channels is mixed to stereo.
    const int channels = decoder_->ch_layout.nb_channels == 1 ? 1 : 2;
    av_channel_layout_default(&encoder.ch_layout, channels);
    encoder.sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    encoder.sample_rate = EncoderRate(*codec, decoder_->sample_rate);
    encoder.time_base = AVRational{1, encoder.sample_rate};
    encoder.bit_rate = 64000 * channels;
    if ((muxer.oformat->flags & AVFMT_GLOBALHEADER) != 0) {
        encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    ClearLibraryMessage();
    int result = avcodec_open2(&encoder, codec, nullptr);
    if (result < 0) {
        throw VideoFault(std::string("the ") + encoderName +
                         " sound encoder could not start: " + ExplainedError(result));
    }
    frameSize_ = encoder.frame_size > 0 ? encoder.frame_size : 1024;
    shortLastFrame_ = (codec->capabilities &
                       (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE)) != 0;

    stream_ = avformat_new_stream(&muxer, nullptr);
    if (stream_ == nullptr) {
        throw std::bad_alloc();
    }
    result = avcodec_parameters_from_context(stream_->codecpar, &encoder);
    if (result < 0) {
        throw VideoFault("the sound stream could not be set up: " + ErrorText(result));
    }
    stream_->time_base = encoder.time_base;

    const std::string description =
        "abuffer@in=time_base=1/" + std::to_string(decoder_->sample_rate) +
        ":sample_rate=" + std::to_string(decoder_->sample_rate) +
        ":sample_fmt=" + av_get_sample_fmt_name(decoder_->sample_fmt) +
        ":channel_layout=" + LayoutName(decoder_->ch_layout) +
        ",aresample=" + std::to_string(encoder.sample_rate) +
        ",aformat=sample_fmts=" + av_get_sample_fmt_name(encoder.sample_fmt) +
        ":sample_rates=" + std::to_string(encoder.sample_rate) +
        ":channel_layouts=" + LayoutName(encoder.ch_layout) + ",abuffersink@out";
    graph_ = MakeFilterGraph(description, "abuffer@in", &source_, "abuffersink@out", &sink_);

    fifo_.reset(av_audio_fifo_alloc(encoder.sample_fmt, channels, frameSize_));
    if (!fifo_) {
        throw std::bad_alloc();
    }
}

std::int64_t SoundTrack::SamplesAt(std::int64_t ms) const {
    return av_rescale(ms, encoder_->sample_rate, 1000);
}

// Reads one packet of the file into the queue of samples; false once the file has ended.
bool SoundTrack::ReadMore() {
    if (fileDone_) {
        return false;
    }
    int result = av_read_frame(input_.get(), packet_.get());
    if (result == AVERROR_EOF) {
        result = avcodec_send_packet(decoder_.get(), nullptr);
        fileDone_ = true;
    } else if (result < 0) {
        throw SoundFault("it cannot be read: " + ExplainedError(result));
    } else if (packet_->stream_index == streamIndex_) {
        result = avcodec_send_packet(decoder_.get(), packet_.get());
        av_packet_unref(packet_.get());
    } else {
        av_packet_unref(packet_.get());
        return true;
    }
    while (result >= 0) {
        result = avcodec_receive_frame(decoder_.get(), decoded_.get());
        if (result >= 0) {
            if (av_channel_layout_compare(&decoded_->ch_layout, &decoder_->ch_layout) != 0) {
                av_channel_layout_uninit(&decoded_->ch_layout);
                av_channel_layout_copy(&decoded_->ch_layout, &decoder_->ch_layout);
            }
            Filter(decoded_.get());
        }
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        throw SoundFault("its sound cannot be read: " + ExplainedError(result));
    }
    if (fileDone_) {
        Filter(nullptr);
    }
    return true;
}

void SoundTrack::Filter(const AVFrame* frame) {
    int result = av_buffersrc_write_frame(source_, frame);
    while (result >= 0) {
        result = av_buffersink_get_frame(sink_, filtered_.get());
        if (result >= 0) {
            const int written =
                av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(filtered_->extended_data),
                                    filtered_->nb_samples);
            av_frame_unref(filtered_.get());
            if (written < 0) {
                throw std::bad_alloc();
            }
        }
    }
    if (result != AVERROR(EAGAIN) && result != AVERROR_EOF) {
        throw SoundFault("its sound cannot be converted: " + ExplainedError(result));
    }
}

// Encodes `count` samples from the queue, silence where the file has none left.
void SoundTrack::EncodeSamples(int count) {
    while (av_audio_fifo_size(fifo_.get()) < count && ReadMore()) {
    }
    AVCodecContext& encoder = *encoder_;
    const int channels = encoder.ch_layout.nb_channels;
    av_frame_unref(frame_.get());
    frame_->format = encoder.sample_fmt;
    frame_->sample_rate = encoder.sample_rate;
    av_channel_layout_copy(&frame_->ch_layout, &encoder.ch_layout);
    // An encoder that takes only whole frames gets the end padded with silence.
    frame_->nb_samples = shortLastFrame_ ? count : frameSize_;
    if (av_frame_get_buffer(frame_.get(), 0) < 0) {
        throw std::bad_alloc();
    }
    const int available = std::min(av_audio_fifo_size(fifo_.get()), count);
    av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->extended_data), available);
    av_samples_set_silence(frame_->extended_data, available, frame_->nb_samples - available,
                           channels, encoder.sample_fmt);
    frame_->pts = samplesSent_;
    samplesSent_ += count;
    Encode(encoder, frame_.get(), *encoded_, write_);
}

void SoundTrack::EncodeUntil(std::int64_t ms) {
    const std::int64_t end = SamplesAt(ms);
    while (samplesSent_ + frameSize_ <= end) {
        EncodeSamples(frameSize_);
    }
}

void SoundTrack::Finish(std::int64_t ms) {
    EncodeUntil(ms);
    const std::int64_t rest = SamplesAt(ms) - samplesSent_;
    if (rest > 0) {
        EncodeSamples(int(rest));
    }
    Encode(*encoder_, nullptr, *encoded_, write_);
}

} // namespace morph::video
