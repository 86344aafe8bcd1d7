// Decoding a captured message into its readable form.
#include "wire_decode.h"
#include "counted.h"

namespace ostrel::tools {

namespace {

// A malformed message is reported with the reason of the shape it is
// closest to. A batch's first byte is 0 or 1 and its next three are zero
// (word 0 in either byte order); a TLV array header of a policy update
// claims a body below 16 MiB, so its first byte is zero but not all of its
// first four are.
bool resembles_plcy_update(const uint8_t *bytes, size_t n) {
    if (bytes == nullptr || n < 4 || bytes[0] != 0)
        return false;
    bool batch_word0 =
        bytes[1] == 0 && bytes[2] == 0 && (bytes[3] == 0 || bytes[3] == 1);
    return !batch_word0;
}

} // namespace

MessageKind classify(const uint8_t *bytes, size_t n) {
    if (read_batch(bytes, n, nullptr, nullptr))
        return MessageKind::Batch;
    if (has_tlv_header(bytes, n))
        return MessageKind::PolicyUpdate;
    return MessageKind::Malformed;
}

bool decode_batch(const uint8_t *bytes, size_t n, std::string *out,
                  std::string *err) {
    Batch batch;
    if (!read_batch(bytes, n, &batch, err))
        return false;
    if (out != nullptr)
        *out += format_batch(batch, n, 0);
    return true;
}

bool decode_plcy_update(const uint8_t *bytes, size_t n, std::string *out,
                        std::string *err) {
    Request request;
    if (!read_plcy_update(bytes, n, &request, err))
        return false;
    if (out != nullptr)
        *out += "policy update of " + counted(n, "byte") + ": " +
                format_request(request, 0);
    return true;
}

bool decode_message(const uint8_t *bytes, size_t n, std::string *out,
                    std::string *err) {
    switch (classify(bytes, n)) {
    case MessageKind::Batch:
        return decode_batch(bytes, n, out, err);
    case MessageKind::PolicyUpdate:
        return decode_plcy_update(bytes, n, out, err);
    case MessageKind::Malformed:
        break;
    }
    std::string why;
    if (resembles_plcy_update(bytes, n))
        (void)read_plcy_update(bytes, n, nullptr, &why);
    else
        (void)read_batch(bytes, n, nullptr, &why);
    if (err != nullptr)
        *err = "neither a batch nor a policy update: " + why;
    return false;
}

} // namespace ostrel::tools
