// The answer to a table query, cut into pages of at most kPageSize payload
// bytes and framed one page at a time as the client reads, so that an
// answer of any size is never one frame over the limit and never sits in a
// client's output queue whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "socket_frame.h"

namespace ostrel::aclsvc {

class AnswerPages {
  public:
    // `head` is the Answer's head (kind, token); `body` the whole answer.
    AnswerPages(const socket_frame::Head &head, std::string body)
        : head_(head), body_(std::move(body)) {}

    // The next page as a frame: every page but the last carries
    // kMorePages. An empty answer is one empty page.
    std::vector<uint8_t> next_page();
    bool done() const { return done_; }
    // Answer bytes not framed yet.
    size_t unsent() const { return body_.size() - offset_; }

  private:
    socket_frame::Head head_;
    std::string body_;
    size_t offset_ = 0;
    bool done_ = false;
};

} // namespace ostrel::aclsvc
