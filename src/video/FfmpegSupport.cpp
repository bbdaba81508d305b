#include "video/FfmpegSupport.h"

#include "video/VideoFaults.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>

namespace morph::video {

namespace {

thread_local std::string lastMessage;

void KeepLastError(void* avcl, int level, const char* format, std::va_list args) {
    if (level > AV_LOG_ERROR) {
        return;
    }
    char line[512];
    int prefix = 1;
    av_log_format_line2(avcl, level, format, args, line, sizeof line, &prefix);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    // The prefix names the library object ("[libx264 @ 0x55...] "), which says nothing to
    // the user.
    if (const std::size_t close = text.find("] "); text.rfind('[', 0) == 0 && close != text.npos) {
        text.erase(0, close + 2);
    }
    if (!text.empty()) {
        lastMessage = text;
    }
}

} // namespace

FramePtr NewFrame() {
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        throw std::bad_alloc();
    }
    return frame;
}

PacketPtr NewPacket() {
    PacketPtr packet(av_packet_alloc());
    if (!packet) {
        throw std::bad_alloc();
    }
    return packet;
}

std::string ErrorText(int error) {
    // FFmpeg's codes for the system's error numbers are the numbers negated.
    if (error < 0 && error > -4096) {
        return std::generic_category().message(-error);
    }
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

void KeepLibraryLogQuiet() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(KeepLastError); });
}

std::string LastLibraryMessage() {
    return lastMessage;
}

void ClearLibraryMessage() {
    lastMessage.clear();
}

std::string ExplainedError(int error) {
    std::string text = ErrorText(error);
    if (!lastMessage.empty() && lastMessage != text) {
        text += " (" + lastMessage + ")";
    }
    return text;
}

FilterGraphPtr MakeFilterGraph(const std::string& description, const char* inName,
                               AVFilterContext** in, const char* outName, AVFilterContext** out,
                               const char* secondInName, AVFilterContext** secondIn) {
    FilterGraphPtr graph(avfilter_graph_alloc());
    if (!graph) {
        throw std::bad_alloc();
    }
    // The filters run on the calling thread: the frames come one at a time anyway.
    graph->nb_threads = 1;
    AVFilterInOut* inputs = nullptr;
    AVFilterInOut* outputs = nullptr;
    int result = avfilter_graph_parse2(graph.get(), description.c_str(), &inputs, &outputs);
    const bool open = inputs != nullptr || outputs != nullptr;
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (result >= 0 && open) {
        result = AVERROR(EINVAL);
    }
    if (result >= 0) {
        result = avfilter_graph_config(graph.get(), nullptr);
    }
    if (result < 0) {
        throw VideoFault("the filters '" + description +
                         "' could not be set up: " + ExplainedError(result));
    }
    *in = avfilter_graph_get_filter(graph.get(), inName);
    *out = avfilter_graph_get_filter(graph.get(), outName);
    if (secondIn != nullptr) {
        *secondIn = avfilter_graph_get_filter(graph.get(), secondInName);
    }
    if (*in == nullptr || *out == nullptr || (secondIn != nullptr && *secondIn == nullptr)) {
        throw VideoFault("the filters '" + description + "' lack their ends");
    }
    return graph;
}

} // namespace morph::video
