// The daemon's --pcap capture: every Send frame it takes and every Accept
// and Reply frame it sends, written as they pass (pcapng.h). Queries and
// answers are not part of the message stream and are left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pcapng.h"

namespace ostrel::aclsvc {

class FrameCapture {
  public:
    // false with *err set when the file cannot be created.
    bool open(const std::string &path, std::string *err) {
        return writer_.open(path, err);
    }
    // A well-formed socket frame from a client.
    void received(const uint8_t *frame, size_t n);
    // A socket frame as it is handed to a client's socket.
    void sent(const std::vector<uint8_t> &frame);

  private:
    tools::PcapngWriter writer_;
};

} // namespace ostrel::aclsvc
