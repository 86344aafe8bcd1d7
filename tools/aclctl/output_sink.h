// Where aclctl's output goes and in which form: text, JSON Lines (every
// event one JSON object on its own line) or brief (no per-message events,
// only what the scenario runner reports per call).
#pragma once

#include <string>

#include "json_writer.h"

namespace ostrel::aclctl::out {

void set_json(bool on);
bool json();
void set_brief(bool on);
bool brief();

// Writes text to the scenario's output (the progress line is erased
// first).
void print(const std::string &text);
// Writes the event: its text, or in JSON mode its object on one line
// (an event with empty text shows only in JSON mode).
void emit(const std::string &text, const tools::JsonObject &event);
void emit(const std::string &text, const std::string &event_json);
// Every line of text indented by `spaces`.
std::string indent(const std::string &text, int spaces);

} // namespace ostrel::aclctl::out
