// The progress line: its text, and that it is drawn on a terminal and nowhere else.
#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <string>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace morph {
namespace {

TEST(ProgressLine, Texts) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double seconds;
        const char* text;
    } durations[] = {{0, "0:00"},
                     {0.5, "0:00"},
                     {1.5, "0:02"},
                     {59.4, "0:59"},
                     {59.5, "1:00"},
                     {61, "1:01"},
                     {3599, "59:59"},
                     {3600, "1:00:00"},
                     {3725, "1:02:05"},
                     {90000, "25:00:00"},
                     {-3, "0:00"},
                     {nan, "0:00"},
                     {1e300, "277777:46:40"}};
    for (const auto& d : durations) {
        SCOPED_TRACE(d.seconds);
        EXPECT_EQ(FormatDuration(d.seconds), d.text);
    }

    const struct {
        int done, total;
        double elapsed;
        const char* text;
    } lines[] = {
        {0, 30, 0, "Rendering: 0 of 30 frames, 0:00 elapsed"},
        {0, 30, 12, "Rendering: 0 of 30 frames, 0:12 elapsed"},
        // 4 s a frame so far, 18 frames to come.
        {12, 30, 48, "Rendering: 12 of 30 frames, 0:48 elapsed, about 1:12 left"},
        {1, 1000, 7.2, "Rendering: 1 of 1000 frames, 0:07 elapsed, about 1:59:53 left"},
        {30, 30, 95, "Rendering: 30 of 30 frames, 1:35 elapsed, about 0:00 left"},
        {5, 10, 0, "Rendering: 5 of 10 frames, 0:00 elapsed"},
    };
    for (const auto& l : lines) {
        SCOPED_TRACE(l.text);
        EXPECT_EQ(FormatProgress(l.done, l.total, l.elapsed), l.text);
    }
}

// Everything readable from `fd` without waiting.
std::string Drain(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, std::size_t(got));
        } else if (!(got < 0 && errno == EINTR)) {
            return text;
        }
    }
}

TEST(ProgressLine, DrawsOnATerminalOnlyAndErasesItself) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    {
        ProgressLine line(pipeFds[1], true);
        EXPECT_FALSE(line.active());
        line.update(0, 3);
        line.update(3, 3);
    }
    EXPECT_EQ(Drain(pipeFds[0]), "");
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);

    int master = -1;
    int terminal = -1;
    ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    {
        ProgressLine quiet(terminal, false);
        EXPECT_FALSE(quiet.active());
        quiet.update(0, 3);
    }
    EXPECT_EQ(Drain(master), "");
    {
        ProgressLine line(terminal, true);
        EXPECT_TRUE(line.active());
        line.update(0, 3);
        line.update(3, 3); // the last count is always drawn
    }
    const std::string shown = Drain(master);
    EXPECT_EQ(shown.rfind("\rRendering: 0 of 3 frames, ", 0), 0u) << shown;
    const std::size_t last = shown.find("\rRendering: 3 of 3 frames, ");
    ASSERT_NE(last, std::string::npos) << shown;
    // Then the line goes again: blanks over the longest text shown, back at its start.
    const std::size_t erase = shown.rfind('\r', shown.size() - 2);
    ASSERT_GT(erase, last);
    const std::string lastText = shown.substr(last + 1, erase - last - 1);
    std::string blank(lastText.size() + 2, ' ');
    blank.front() = blank.back() = '\r';
    EXPECT_EQ(shown.substr(erase), blank);
    ::close(master);
    ::close(terminal);
}

} // namespace
} // namespace morph
