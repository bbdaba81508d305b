// Reading written AVI files back with ffprobe and ffmpeg, and making WAV files.
#pragma once

#include "platform/Bitmap.h"
#include "support/Bytes.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace morph::test {

// Runs a shell command and returns its standard output; status receives the exit status.
inline std::string Capture(const std::string& command, int* status = nullptr) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr) {
            *status = -1;
        }
        return out;
    }
    std::vector<char> block(1 << 16);
    std::size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), pipe)) > 0) {
        out.append(block.data(), n);
    }
    const int raw = ::pclose(pipe);
    if (status != nullptr) {
        *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    return out;
}

inline std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

using StreamFields = std::map<std::string, std::string>;

// Every stream ffprobe finds, with the frames it counts by reading the whole file.
inline std::vector<StreamFields> ProbeStreams(const std::string& path) {
    const std::string out =
        Capture("ffprobe -v error -count_frames -show_entries "
                "stream=index,codec_type,codec_name,width,height,r_frame_rate,nb_read_frames,"
                "sample_rate,channels,bits_per_sample,duration -of default=noprint_wrappers=0 " +
                Quote(path) + " 2>&1");
    std::vector<StreamFields> streams;
    std::size_t at = 0;
    while (at < out.size()) {
        std::size_t end = out.find('\n', at);
        if (end == std::string::npos) {
            end = out.size();
        }
        const std::string line = out.substr(at, end - at);
        at = end + 1;
        if (line == "[STREAM]") {
            streams.emplace_back();
        } else if (const std::size_t eq = line.find('=');
                   eq != std::string::npos && !streams.empty()) {
            streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
        } else if (line != "[/STREAM]") {
            streams.push_back({{"error", line}});
        }
    }
    return streams;
}

// The first video stream decoded to RGB bytes, frame after frame (each once, whatever its
// duration), rows from the top.
inline std::string DecodeVideo(const std::string& path) {
    return Capture("ffmpeg -v error -i " + Quote(path) +
                   " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
}

// The first sound stream decoded to 8-bit unsigned or 16-bit little-endian samples.
inline std::string DecodeAudio(const std::string& path, int bits) {
    const std::string format = bits == 8 ? "-f u8 -c:a pcm_u8" : "-f s16le -c:a pcm_s16le";
    return Capture("ffmpeg -v error -i " + Quote(path) + " -map 0:a:0 " + format +
                   " - 2>/dev/null");
}

// The whole file's playing time in seconds, as its container states it.
inline double ProbeDuration(const std::string& path) {
    const std::string out = Capture("ffprobe -v error -show_entries format=duration -of "
                                    "default=noprint_wrappers=1:nokey=1 " +
                                    Quote(path) + " 2>&1");
    return std::atof(out.c_str());
}

// The first sound stream decoded to 16-bit mono samples at its own rate.
inline std::vector<std::int16_t> DecodeMono(const std::string& path) {
    const std::string bytes = Capture("ffmpeg -v error -i " + Quote(path) +
                                      " -map 0:a:0 -ac 1 -f s16le -c:a pcm_s16le - 2>/dev/null");
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Peak signal-to-noise ratio of two RGB byte strings of the same length, in dB; infinite
// when they are equal.
inline double Psnr(const std::string& a, const std::string& b) {
    double squares = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = double(std::uint8_t(a[i])) - double(std::uint8_t(b[i]));
        squares += d * d;
    }
    if (squares == 0 || a.empty()) {
        return std::numeric_limits<double>::infinity();
    }
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / squares);
}

inline std::string RgbBytes(const Bitmap& bitmap) {
    std::string bytes;
    bytes.reserve(bitmap.pixelCount() * 3);
    for (std::size_t i = 0; i < bitmap.pixelCount(); ++i) {
        const Colour c = bitmap.data()[i];
        bytes += char(RedOf(c));
        bytes += char(GreenOf(c));
        bytes += char(BlueOf(c));
    }
    return bytes;
}

inline Bitmap Pattern(int width, int height, int seed) {
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setPixel(x, y,
                            RGB(std::uint8_t(x * 7 + seed * 31), std::uint8_t(y * 5 + seed),
                                std::uint8_t((x + 3 * y) * 11 + seed * seed)));
        }
    }
    return bitmap;
}

inline std::string Chunk(const std::string& id, const std::string& body) {
    std::string out = id;
    PutLe(out, std::uint32_t(body.size()), 4);
    out += body;
    if (body.size() % 2 != 0) {
        out += '\0';
    }
    return out;
}

inline std::string PcmFormat(int rate, int channels, int bits) {
    const int block = channels * bits / 8;
    std::string fmt;
    PutLe(fmt, 1, 2);
    PutLe(fmt, std::uint32_t(channels), 2);
    PutLe(fmt, std::uint32_t(rate), 4);
    PutLe(fmt, std::uint32_t(rate * block), 4);
    PutLe(fmt, std::uint32_t(block), 2);
    PutLe(fmt, std::uint32_t(bits), 2);
    return fmt;
}

inline std::string Riff(const std::string& form, const std::string& chunks) {
    std::string out = "RIFF";
    PutLe(out, std::uint32_t(4 + chunks.size()), 4);
    return out + form + chunks;
}

// Sample bytes that change from sample to sample and channel to channel.
inline std::string PcmSamples(int frames, int channels, int bits) {
    std::string data;
    std::uint32_t state = 12345;
    for (int i = 0; i < frames * channels; ++i) {
        state = state * 1103515245u + 12345u;
        PutLe(data, state >> 16, bits / 8);
    }
    return data;
}

inline std::string PcmWav(int rate, int channels, int bits, const std::string& samples) {
    return Riff("WAVE", Chunk("fmt ", PcmFormat(rate, channels, bits)) + Chunk("data", samples));
}

} // namespace morph::test
