// Sending a batch to the ACL service with bounded retries, and draining the
// service's reply.
#include <unistd.h>

#include "acl_service.h"
#include "observe/counters.h"
#include "programming/programming_internal.h"
#include "yarl.h"

extern "C" {
uint32_t did_yarl_send = 0;
}

namespace {

constexpr int kSendRetries = 3;
constexpr useconds_t kRetrySleepMicros = 800000;
constexpr uint32_t kRecvWaitWord = 20;

} // namespace

// Sends length bytes at data as one message to the ACL service: one send,
// then up to three retries, each preceded by a heartbeat and an 800000 us
// sleep. Returns 0 (and sets did_yarl_send to 1) or, after the last failed
// attempt, OSTREL_STATUS_SEND_ERROR(transport error number), with a perror
// line and did_yarl_send unchanged.
extern "C" uint32_t ostrel_api_send_batch(yarl_handle_t handle, yarl_msg *msg,
                                          const void *data, uint32_t length) {
    int result = ostrel::send_to_acl_service(handle, msg, data, length);
    for (int retries = 0; result != 0 && retries < kSendRetries; ++retries) {
        heartbeat_update_and_send(0);
        const ostrel::observe::Stopwatch sleeping;
        usleep(kRetrySleepMicros);
        ostrel::observe::retry_slept(sleeping.stop());
        result = ostrel::send_to_acl_service(handle, msg, data, length);
    }
    if (result != 0) {
        return ostrel::report_send_failure(handle, length);
    }
    did_yarl_send = 1;
    return OSTREL_STATUS_OK;
}

// Releases msg, then waits for the reply to the send made with it and
// releases that too. Returns 0; OSTREL_STATUS_NO_ENTRY when the reply has
// no payload; the transport's error number itself (no status bits added)
// when the receive fails, in which case nothing further is released.
// did_yarl_send is 0 afterwards in every case. msg is handed to the transport
// as given: the drain adds no null check of its own.
extern "C" OSTREL_API uint32_t brisel_api_yarl_gobble(yarl_handle_t handle,
                                                      yarl_msg *msg) {
    yarl_recv_opts opts{};
    opts.word[0] = 1;
    opts.word[1] = 0;
    opts.word[2] = kRecvWaitWord;
    opts.word[3] = yarl_rr_token_get(msg);

    yarl_drop(handle, msg);
    did_yarl_send = 0;
    heartbeat_update_and_send(0);

    yarl_msg reply{};
    const ostrel::observe::Stopwatch receiving;
    const int received = yarl_recv(handle, &reply, &opts);
    const uint64_t waited = receiving.stop();
    if (received == -1) {
        const auto error = static_cast<uint32_t>(yarl_errno_get(handle));
        ostrel::observe::drained(error, true, waited);
        return error;
    }
    const void *payload = yarl_payload_get(&reply);
    yarl_drop(handle, &reply);
    const uint32_t status =
        payload != nullptr ? OSTREL_STATUS_OK : OSTREL_STATUS_NO_ENTRY;
    ostrel::observe::drained(status, false, waited);
    return status;
}
