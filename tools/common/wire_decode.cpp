// Decoding a captured message into its readable form.
#include "wire_decode.h"

namespace ostrel::tools {

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
        *out += "policy update of " + std::to_string(n) +
                " bytes: " + format_request(request, 0);
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
    (void)read_batch(bytes, n, nullptr, &why);
    if (err != nullptr)
        *err = "neither a batch nor a policy update: " + why;
    return false;
}

} // namespace ostrel::tools
