// A JSON object built field by field, for the tools' JSON Lines output.
// Strings are escaped whole (quotes, backslashes, control and non-ASCII
// bytes as \u00XX), so any bytes give valid JSON.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace ostrel::tools {

inline std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        }
    }
    return out + "\"";
}

// Items that are JSON texts already, as an array.
inline std::string json_array(const std::vector<std::string> &items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i > 0 ? "," : "") + items[i];
    return out + "]";
}

class JsonObject {
  public:
    template <typename T>
    requires std::is_integral_v<T> &&
        (!std::is_same_v<T, bool>)JsonObject &add(std::string_view key,
                                                  T value) {
        return raw(key, std::to_string(value));
    }
    JsonObject &add(std::string_view key, bool value) {
        return raw(key, value ? "true" : "false");
    }
    JsonObject &add(std::string_view key, std::string_view value) {
        return raw(key, json_string(value));
    }
    JsonObject &add(std::string_view key, const char *value) {
        return add(key, std::string_view(value));
    }
    JsonObject &add(std::string_view key, const std::string &value) {
        return add(key, std::string_view(value));
    }
    // A value that is JSON text already (an object or an array).
    JsonObject &raw(std::string_view key, const std::string &json) {
        body_ += body_.empty() ? "" : ","; // not "," + ...: GCC 12 -Wrestrict
        body_ += json_string(key) + ":" + json;
        return *this;
    }
    std::string str() const { return "{" + body_ + "}"; }

  private:
    std::string body_;
};

} // namespace ostrel::tools
