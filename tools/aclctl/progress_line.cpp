// The progress line of a long scenario run.
#include "progress_line.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "number_parse.h"

namespace ostrel::aclctl::progress {

namespace {

using Clock = std::chrono::steady_clock;

struct State {
    bool on = false;
    bool shown = false;
    Clock::time_point start;
    Clock::time_point drawn;
    Clock::duration delay = std::chrono::seconds(1);
};

State &state() {
    static State s;
    return s;
}

Clock::duration delay_from_environment() {
    const char *text = std::getenv("ACLCTL_PROGRESS_DELAY_MS");
    uint32_t ms = 1000;
    if (text != nullptr)
        (void)tools::parse_number(text, 600000, &ms);
    return std::chrono::milliseconds(ms);
}

// 1234567 bytes as "1.2 MB".
void format_bytes(unsigned long long bytes, char *out, size_t n) {
    if (bytes < 10000)
        std::snprintf(out, n, "%llu bytes", bytes);
    else if (bytes < 10000000)
        std::snprintf(out, n, "%.1f kB", static_cast<double>(bytes) / 1e3);
    else
        std::snprintf(out, n, "%.1f MB", static_cast<double>(bytes) / 1e6);
}

} // namespace

void start(bool json) {
    State &s = state();
    s.on = !json && ::isatty(STDERR_FILENO) == 1;
    s.start = Clock::now();
    s.delay = delay_from_environment();
}

void update(size_t done, size_t total, unsigned long long messages,
            unsigned long long bytes) {
    State &s = state();
    if (!s.on)
        return;
    Clock::time_point now = Clock::now();
    const bool drawn_lately = s.drawn != Clock::time_point{} &&
                              now - s.drawn < std::chrono::milliseconds(100);
    if (now - s.start < s.delay || drawn_lately)
        return;
    char size[32];
    format_bytes(bytes, size, sizeof size);
    std::fprintf(stderr, "\r\033[Kaclctl: line %zu of %zu, %llu %s, %s", done,
                 total, messages, messages == 1 ? "message" : "messages", size);
    std::fflush(stderr);
    s.shown = true;
    s.drawn = now;
}

void erase() {
    State &s = state();
    if (!s.shown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    s.shown = false;
}

} // namespace ostrel::aclctl::progress
