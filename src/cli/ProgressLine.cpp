#include "cli/ProgressLine.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include <unistd.h>

namespace morph {

namespace {

// More than any render lasts; keeps the conversion to an integer defined.
constexpr double kLongestShown = 1e9;

void WriteAll(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return; // a progress line is not worth failing a render for
        }
        data += written;
        left -= std::size_t(written);
    }
}

} // namespace

std::string FormatDuration(double seconds) {
    if (!(seconds > 0)) {
        seconds = 0;
    }
    const long long whole =
        static_cast<long long>(std::nearbyint(std::fmin(seconds, kLongestShown)));
    const long long hours = whole / 3600;
    const long long minutes = whole / 60 % 60;
    const long long secs = whole % 60;
    const auto twoDigits = [](long long value) {
        std::string digits = std::to_string(value);
        if (digits.size() < 2) {
            digits.insert(digits.begin(), '0');
        }
        return digits;
    };
    if (hours > 0) {
        return std::to_string(hours) + ":" + twoDigits(minutes) + ":" + twoDigits(secs);
    }
    return std::to_string(minutes) + ":" + twoDigits(secs);
}

std::string FormatProgress(int done, int total, double elapsedSeconds) {
    std::string text = "Rendering: " + std::to_string(done) + " of " + std::to_string(total) +
                       " frames, " + FormatDuration(elapsedSeconds) + " elapsed";
    if (done > 0 && done <= total && elapsedSeconds > 0) {
        const double left = elapsedSeconds / done * (total - done);
        text += ", about " + FormatDuration(left) + " left";
    }
    return text;
}

ProgressLine::ProgressLine(int fd, bool wanted)
    : fd_(fd), active_(wanted && ::isatty(fd) == 1), start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

ProgressLine::~ProgressLine() {
    finish();
}

void ProgressLine::update(int done, int total) {
    if (!active_) {
        return;
    }
    const std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && done != total && now - lastDraw_ < std::chrono::milliseconds(100)) {
        return;
    }
    lastDraw_ = now;
    draw(FormatProgress(done, total, std::chrono::duration<double>(now - start_).count()));
}

void ProgressLine::finish() {
    if (!active_) {
        return;
    }
    const std::lock_guard lock(mutex_);
    if (shownLength_ > 0) {
        std::string blank(shownLength_ + 2, ' ');
        blank.front() = '\r';
        blank.back() = '\r';
        WriteAll(fd_, blank);
        shownLength_ = 0;
    }
    drawn_ = false;
}

void ProgressLine::draw(const std::string& text) {
    // A shorter line than the one shown is padded so that no old characters stay behind.
    std::string line = "\r" + text;
    if (text.size() < shownLength_) {
        line.append(shownLength_ - text.size(), ' ');
    }
    WriteAll(fd_, line);
    shownLength_ = std::max(shownLength_, text.size());
    drawn_ = true;
}

} // namespace morph
