// Minimal JSON output for the test driver. Strings are UTF-16 and leave as pure ASCII: every code
// unit outside printable ASCII is written as \uXXXX, so a reader sees each unit exactly as the
// window held it, whatever the console's code page.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace json {

inline std::string String(std::wstring_view text) {
    std::string out = "\"";
    for (wchar_t unit : text) {
        if (unit == L'"' || unit == L'\\') {
            out += '\\';
            out += static_cast<char>(unit);
        } else if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
            out += escaped;
        }
    }
    return out + "\"";
}

inline std::string Number(std::int64_t value) {
    return std::to_string(value);
}
inline std::string Unsigned(std::uint64_t value) {
    return std::to_string(value);
}
inline std::string Bool(bool value) {
    return value ? "true" : "false";
}
inline std::string Null() {
    return "null";
}

// An object or array under construction; members are raw JSON values.
class Object {
  public:
    Object& Add(std::string_view key, const std::string& value) {
        if (!body_.empty())
            body_ += ',';
        body_ += '"';
        body_ += key;
        body_ += "\":";
        body_ += value;
        return *this;
    }
    std::string Text() const { return "{" + body_ + "}"; }

  private:
    std::string body_;
};

class Array {
  public:
    Array& Add(const std::string& value) {
        if (!body_.empty())
            body_ += ',';
        body_ += value;
        return *this;
    }
    std::string Text() const { return "[" + body_ + "]"; }

  private:
    std::string body_;
};

} // namespace json
