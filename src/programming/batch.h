// The open BatchBuffer: one heap block of
// kBatchSize bytes that carries ProgramRequest copies to the ACL service.
//
//   offset 0  u32  1 when the call that created the block sends it as its
//                  final send, else 0 (always 0 in a flush)
//   offset 4  u32  number of request copies
//   offset 8  ...  the copies back to back
//
// The block lives in the process-wide globals batch_buf / batch_len
// (programming_internal.h); these helpers are the only code that changes
// them. Every helper keeps the invariant: batch_buf == nullptr exactly when
// batch_len == 0, and otherwise kBatchHeadSize <= batch_len <= kBatchSize.
#pragma once

#include <cstdint>

#include "ostrelapi.h"

namespace ostrel {

// True when a batch is open.
bool batch_is_open();

// Free bytes of the open batch: kBatchSize - batch_len (kBatchSize when no
// batch is open, as batch_len is then 0).
uint32_t batch_room();

// Largest space a request may need and still fit into an empty batch.
inline constexpr uint32_t kBatchPayloadMax = 130056 - 8;

// Opens a zeroed batch with batch_len = 8. Returns false (nothing changed)
// when the allocation fails. Must only be called when no batch is open.
[[nodiscard]] bool batch_open();

// Appends one copy of `size` bytes at `request` and counts it in the head.
// The caller has made sure that it fits: size <= batch_room().
void batch_append(const void *request, uint32_t size);

// Writes `word0` into the head, sends the batch's used bytes with
// ostrel_api_send_batch, and releases the batch whatever the send returned.
// Returns the send's status. Must only be called when a batch is open.
[[nodiscard]] uint32_t batch_send_and_release(yarl_handle_t handle,
                                              yarl_msg *msg, uint32_t word0);

} // namespace ostrel
