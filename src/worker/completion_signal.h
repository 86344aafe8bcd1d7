// The descriptor a caller's poll loop watches: an eventfd that is readable
// exactly while completions wait. The worker raises it when the first
// completion arrives and lowers it when the last is taken, both under the
// lock that guards the completions, so it never disagrees with them.
#pragma once

namespace ostrel::worker {

class CompletionSignal {
  public:
    CompletionSignal();
    ~CompletionSignal();
    CompletionSignal(const CompletionSignal &) = delete;
    CompletionSignal &operator=(const CompletionSignal &) = delete;

    // The eventfd, or -1 when it could not be made.
    int fd() const { return fd_; }
    void raise();
    void lower();

  private:
    int fd_;
};

} // namespace ostrel::worker
