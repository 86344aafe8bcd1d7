// Paging of a query's answer.
#include "answer_pages.h"

#include <algorithm>

namespace ostrel::aclsvc {

std::vector<uint8_t> AnswerPages::next_page() {
    const size_t n =
        std::min<size_t>(socket_frame::kPageSize, body_.size() - offset_);
    const bool last = offset_ + n == body_.size();
    socket_frame::Head head = head_;
    head.flags =
        socket_frame::kHasPayload | (last ? 0 : socket_frame::kMorePages);
    std::vector<uint8_t> frame = socket_frame::encode(
        head, body_.data() + offset_, static_cast<uint32_t>(n));
    offset_ += n;
    done_ = last;
    return frame;
}

} // namespace ostrel::aclsvc
