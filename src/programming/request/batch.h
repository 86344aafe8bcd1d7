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
#include <memory>

#include "ostrelapi.h"
#include "ostrelapi.hpp"
#include "programming/programming_internal.h"

namespace ostrel {

// True when a batch is open.
bool batch_is_open();

// Free bytes of the open batch: kBatchSize - batch_len (kBatchSize when no
// batch is open, as batch_len is then 0).
uint32_t batch_room();

// Largest space a request may need and still fit into an empty batch.
inline constexpr uint32_t kBatchPayloadMax = kBatchSize - kBatchHeadSize;

// Opens a batch with batch_len = 8 and a zeroed head. Returns false
// (nothing changed) when the allocation fails. Must only be called when no
// batch is open.
//
// Only the head is zeroed: the block is malloc'd, not calloc'd, on purpose.
// Zeroing all kBatchSize bytes was most of the cost of a small operation, and
// no byte past batch_len is ever read or sent (the send hands the transport
// batch_len bytes), so the bytes past it need no defined value.
[[nodiscard]] bool batch_open();

// Counts one more copy of `size` bytes in the head and returns where its
// bytes go (at the old batch_len); the caller writes all of them. The caller
// has made sure that it fits: size <= batch_room().
[[nodiscard]] void *batch_append_slot(uint32_t size);

// Serial number of the open batch: different for every batch opened, so a
// position remembered in one batch is never taken for one in the next.
uint64_t batch_serial();

// Writes `word0` into the head, sends the batch's used bytes with
// ostrel_api_send_batch, and releases the batch whatever the send returned.
// Returns the send's status. Must only be called when a batch is open.
[[nodiscard]] uint32_t batch_send_and_release(yarl_handle_t handle,
                                              yarl_msg *msg, uint32_t word0);

// A sent batch block, freed when its owner goes.
using SentBatch = std::unique_ptr<uint8_t, free_deleter>;

// As batch_send_and_release, but the sent block goes to *sent instead of
// being freed at once: a flush keeps it while records are copied from it
// into the next batch. No batch is open afterwards either way.
[[nodiscard]] uint32_t batch_send_and_detach(yarl_handle_t handle,
                                             yarl_msg *msg, uint32_t word0,
                                             SentBatch *sent);

} // namespace ostrel
