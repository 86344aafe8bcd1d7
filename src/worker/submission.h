// One submission: a private copy of the caller's changes, room for each
// change's status, and its outcome once applied. Submissions travel in
// first-in first-out queues that own them.
#pragma once

#include <cstdint>
#include <memory>

#include "ostrelapi.h"

namespace ostrel::worker {

struct Submission {
    uint64_t cookie = 0;
    uint32_t count = 0;
    uint32_t status = OSTREL_STATUS_NOT_EXECUTED;
    uint64_t queued_ns = 0;
    uint64_t done_ns = 0;
    std::unique_ptr<ostrel_api_acl_change_t[]> changes;
    std::unique_ptr<uint32_t[]> statuses;
    Submission *next = nullptr; // owned by the queue that holds this one

    // A copy of count changes, or null when it cannot be allocated.
    static std::unique_ptr<Submission>
    copy_of(const ostrel_api_acl_change_t *changes, uint32_t count,
            uint64_t cookie);

    // Whether one of the changes has an all-zero first address.
    bool has_zero_first_address() const;
    // Gives the submission, and every one of its changes, `status`.
    void settle_all(uint32_t status);
};

// A FIFO of submissions that owns them.
class SubmissionQueue {
  public:
    SubmissionQueue() = default;
    SubmissionQueue(SubmissionQueue &&other) noexcept { take(other); }
    SubmissionQueue &operator=(SubmissionQueue &&other) noexcept;
    SubmissionQueue(const SubmissionQueue &) = delete;
    SubmissionQueue &operator=(const SubmissionQueue &) = delete;
    ~SubmissionQueue() { clear(); }

    bool empty() const { return head_ == nullptr; }
    Submission *front() const { return head_; }
    void push(std::unique_ptr<Submission> s);
    std::unique_ptr<Submission> pop();
    // Moves every submission of other to the back of this queue.
    void append(SubmissionQueue &&other);
    void clear();

  private:
    void take(SubmissionQueue &other);

    Submission *head_ = nullptr;
    Submission **tail_ = &head_;
};

} // namespace ostrel::worker
