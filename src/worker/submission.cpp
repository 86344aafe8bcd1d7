// Copying submissions and queueing them.
#include "worker/submission.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace ostrel::worker {

std::unique_ptr<Submission>
Submission::copy_of(const ostrel_api_acl_change_t *changes, uint32_t count,
                    uint64_t cookie) {
    std::unique_ptr<Submission> s(new (std::nothrow) Submission);
    if (!s)
        return nullptr;
    s->cookie = cookie;
    s->count = count;
    if (count == 0)
        return s;
    s->changes.reset(new (std::nothrow) ostrel_api_acl_change_t[count]);
    s->statuses.reset(new (std::nothrow) uint32_t[count]);
    if (!s->changes || !s->statuses)
        return nullptr;
    std::memcpy(s->changes.get(), changes, sizeof *changes * count);
    std::fill_n(s->statuses.get(), count, OSTREL_STATUS_NOT_EXECUTED);
    return s;
}

bool Submission::has_zero_first_address() const {
    static constexpr uint8_t kZero[6] = {};
    return std::any_of(changes.get(), changes.get() + count,
                       [](const ostrel_api_acl_change_t &c) {
                           return std::memcmp(c.addr1, kZero, 6) == 0;
                       });
}

void Submission::settle_all(uint32_t outcome) {
    status = outcome;
    std::fill_n(statuses.get(), count, outcome);
}

SubmissionQueue &SubmissionQueue::operator=(SubmissionQueue &&other) noexcept {
    if (this != &other) {
        clear();
        take(other);
    }
    return *this;
}

void SubmissionQueue::take(SubmissionQueue &other) {
    head_ = other.head_;
    tail_ = head_ != nullptr ? other.tail_ : &head_;
    other.head_ = nullptr;
    other.tail_ = &other.head_;
}

void SubmissionQueue::push(std::unique_ptr<Submission> s) {
    s->next = nullptr;
    *tail_ = s.release();
    tail_ = &(*tail_)->next;
}

std::unique_ptr<Submission> SubmissionQueue::pop() {
    std::unique_ptr<Submission> s(head_);
    if (head_ != nullptr) {
        head_ = head_->next;
        if (head_ == nullptr)
            tail_ = &head_;
        s->next = nullptr;
    }
    return s;
}

void SubmissionQueue::append(SubmissionQueue &&other) {
    if (other.empty())
        return;
    *tail_ = other.head_;
    tail_ = other.tail_;
    other.head_ = nullptr;
    other.tail_ = &other.head_;
}

void SubmissionQueue::clear() {
    while (pop()) {
    }
}

} // namespace ostrel::worker
