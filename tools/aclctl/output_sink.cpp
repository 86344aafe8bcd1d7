// Output of aclctl: text, JSON Lines or brief.
#include "output_sink.h"

#include <cstdio>

#include "progress_line.h"

namespace ostrel::aclctl::out {

namespace {

struct Mode {
    bool json = false;
    bool brief = false;
};

Mode &mode() {
    static Mode m;
    return m;
}

} // namespace

void set_json(bool on) {
    mode().json = on;
}
bool json() {
    return mode().json;
}
void set_brief(bool on) {
    mode().brief = on;
}
bool brief() {
    return mode().brief;
}

void print(const std::string &text) {
    progress::erase();
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void emit(const std::string &text, const tools::JsonObject &event) {
    emit(text, event.str());
}

void emit(const std::string &text, const std::string &event_json) {
    if (mode().json)
        print(event_json + "\n");
    else if (!text.empty())
        print(text);
}

std::string indent(const std::string &text, int spaces) {
    std::string pad(static_cast<size_t>(spaces), ' ');
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        out += pad + text.substr(start, end - start);
        start = end;
    }
    if (!out.empty() && out.back() != '\n')
        out += '\n';
    return out;
}

} // namespace ostrel::aclctl::out
