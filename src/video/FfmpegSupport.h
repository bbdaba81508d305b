// What every part of the video export needs from FFmpeg's libraries: owners that free their
// objects, error texts, and the libraries' log kept off the terminal.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <memory>
#include <string>

namespace morph::video {

struct FreeCodecContext {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FreeFrame {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct FreePacket {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FreeFilterGraph {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct CloseInput {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, FreeCodecContext>;
using FramePtr = std::unique_ptr<AVFrame, FreeFrame>;
using PacketPtr = std::unique_ptr<AVPacket, FreePacket>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FreeFilterGraph>;
using InputPtr = std::unique_ptr<AVFormatContext, CloseInput>;

FramePtr NewFrame();
PacketPtr NewPacket();

// The text of an FFmpeg result code: the system's text for an error number ("File too
// large"), FFmpeg's own for the rest.
std::string ErrorText(int error);

// FFmpeg logs to stderr by default; the export reports its failures itself, so the log goes
// into LastLibraryMessage() instead (per thread, the last error-level line).
void KeepLibraryLogQuiet();
std::string LastLibraryMessage();
void ClearLibraryMessage();

// ErrorText, with the library's last logged explanation when there is one:
// "Invalid argument (width not divisible by 2)".
std::string ExplainedError(int error);

// A filter graph from a complete description; `inName` and `outName` are the instance
// names ("buffer@in") of its source and sink, returned through the pointers.
FilterGraphPtr MakeFilterGraph(const std::string& description, const char* inName,
                               AVFilterContext** in, const char* outName, AVFilterContext** out,
                               const char* secondInName = nullptr,
                               AVFilterContext** secondIn = nullptr);

} // namespace morph::video
