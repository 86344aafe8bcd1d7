// The batch buffer: process-wide state and the helpers that open, fill,
// send and release it.
#include "programming/request/batch.h"

#include <cstdlib>
#include <cstring>

#include "programming/programming_internal.h"

namespace ostrel {

uint8_t *batch_buf = nullptr;
uint32_t batch_len = 0;
uint32_t pc_override_if_index = 0;

namespace {

constexpr uint32_t kWord0Offset = kBatchWord0Offset;
constexpr uint32_t kCountOffset = kBatchCountOffset;

void put_u32(uint32_t offset, uint32_t value) {
    std::memcpy(batch_buf + offset, &value, sizeof value);
}

uint32_t get_u32(uint32_t offset) {
    uint32_t value;
    std::memcpy(&value, batch_buf + offset, sizeof value);
    return value;
}

uint64_t open_serial = 0;

} // namespace

bool batch_is_open() {
    return batch_buf != nullptr;
}

uint32_t batch_room() {
    return kBatchSize - batch_len;
}

bool batch_open() {
    auto *block = static_cast<uint8_t *>(std::malloc(kBatchSize));
    if (block == nullptr) {
        return false;
    }
    batch_buf = block;
    batch_len = kBatchHeadSize;
    put_u32(kWord0Offset, 0);
    put_u32(kCountOffset, 0);
    ++open_serial;
    return true;
}

void *batch_append_slot(uint32_t size) {
    uint8_t *slot = batch_buf + batch_len;
    put_u32(kCountOffset, get_u32(kCountOffset) + 1);
    batch_len += size;
    return slot;
}

uint64_t batch_serial() {
    return open_serial;
}

uint32_t batch_send_and_release(yarl_handle_t handle, yarl_msg *msg,
                                uint32_t word0) {
    SentBatch sent;
    return batch_send_and_detach(handle, msg, word0, &sent);
}

uint32_t batch_send_and_detach(yarl_handle_t handle, yarl_msg *msg,
                               uint32_t word0, SentBatch *sent) {
    put_u32(kWord0Offset, word0);
    const uint32_t status =
        ostrel_api_send_batch(handle, msg, batch_buf, batch_len);
    sent->reset(batch_buf);
    batch_buf = nullptr;
    batch_len = 0;
    return status;
}

} // namespace ostrel
