// Reads the bed server's JSON-lines request log with a small JSON reader of its own: objects,
// arrays, strings, numbers and literals, which is all the log holds. Test thread.
#include "tests/engine/request_log.h"

#include <windows.h>

#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "tests/engine/harness.h"

namespace {

struct JsonValue {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;
};

class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    bool Read(JsonValue& value) {
        if (!Value(value)) {
            return false;
        }
        Skip();
        return pos_ == text_.size();
    }

  private:
    void Skip() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                       text_[pos_] == '\r' || text_[pos_] == '\n')) {
            ++pos_;
        }
    }

    bool Literal(const char* word) {
        const std::string w(word);
        if (text_.compare(pos_, w.size(), w) != 0) {
            return false;
        }
        pos_ += w.size();
        return true;
    }

    static void AppendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Hex4(unsigned& code) {
        if (pos_ + 4 > text_.size()) {
            return false;
        }
        code = static_cast<unsigned>(std::stoul(text_.substr(pos_, 4), nullptr, 16));
        pos_ += 4;
        return true;
    }

    bool StringBody(std::string& out) {
        ++pos_; // opening quote
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') {
                return true;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) {
                return false;
            }
            const char e = text_[pos_++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                unsigned code = 0;
                if (!Hex4(code)) {
                    return false;
                }
                if (code >= 0xD800 && code < 0xDC00 && Literal("\\u")) {
                    unsigned low = 0;
                    if (!Hex4(low)) {
                        return false;
                    }
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                }
                AppendUtf8(out, code);
                break;
            }
            default:
                out += e;
                break;
            }
        }
        return false;
    }

    bool Value(JsonValue& value) {
        Skip();
        if (pos_ >= text_.size()) {
            return false;
        }
        const char c = text_[pos_];
        if (c == '"') {
            value.kind = JsonValue::String;
            return StringBody(value.text);
        }
        if (c == '[') {
            value.kind = JsonValue::Array;
            ++pos_;
            Skip();
            if (pos_ < text_.size() && text_[pos_] == ']') {
                ++pos_;
                return true;
            }
            for (;;) {
                JsonValue item;
                if (!Value(item)) {
                    return false;
                }
                value.items.push_back(std::move(item));
                Skip();
                if (pos_ < text_.size() && text_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] == ']') {
                    ++pos_;
                    return true;
                }
                return false;
            }
        }
        if (c == '{') {
            value.kind = JsonValue::Object;
            ++pos_;
            Skip();
            if (pos_ < text_.size() && text_[pos_] == '}') {
                ++pos_;
                return true;
            }
            for (;;) {
                Skip();
                std::string name;
                if (pos_ >= text_.size() || text_[pos_] != '"' || !StringBody(name)) {
                    return false;
                }
                Skip();
                if (pos_ >= text_.size() || text_[pos_] != ':') {
                    return false;
                }
                ++pos_;
                JsonValue member;
                if (!Value(member)) {
                    return false;
                }
                value.members[name] = std::move(member);
                Skip();
                if (pos_ < text_.size() && text_[pos_] == ',') {
                    ++pos_;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] == '}') {
                    ++pos_;
                    return true;
                }
                return false;
            }
        }
        if (Literal("true")) {
            value.kind = JsonValue::Bool;
            value.number = 1;
            return true;
        }
        if (Literal("false")) {
            value.kind = JsonValue::Bool;
            return true;
        }
        if (Literal("null")) {
            return true;
        }
        const std::size_t start = pos_;
        while (pos_ < text_.size() &&
               std::string("+-0123456789.eE").find(text_[pos_]) != std::string::npos) {
            ++pos_;
        }
        if (pos_ == start) {
            return false;
        }
        value.kind = JsonValue::Number;
        value.number = std::stod(text_.substr(start, pos_ - start));
        return true;
    }

    const std::string& text_;
    std::size_t pos_ = 0;
};

std::string ReadLog() {
    const FileRead read = ReadWholeFile(BedVariable(L"QM_REQUEST_LOG_WIN"));
    EXPECT_TRUE(read.exists) << "the bed's request log cannot be read";
    return read.bytes;
}

} // namespace

std::uint64_t RequestLogMark() {
    return ReadLog().size();
}

std::vector<LoggedRequest> RequestsSince(std::uint64_t mark) {
    const std::string log = ReadLog();
    std::vector<LoggedRequest> requests;
    std::size_t lineStart = mark <= log.size() ? static_cast<std::size_t>(mark) : log.size();
    while (lineStart < log.size()) {
        std::size_t lineEnd = log.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = log.size();
        }
        const std::string line = log.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (line.empty()) {
            continue;
        }
        JsonValue entry;
        if (!JsonReader(line).Read(entry) || entry.kind != JsonValue::Object) {
            ADD_FAILURE() << "unreadable request log line: " << line;
            continue;
        }
        LoggedRequest request;
        request.port = static_cast<long long>(entry.members["port"].number);
        request.requestLine = entry.members["requestline"].text;
        request.path = entry.members["path"].text;
        for (const JsonValue& header : entry.members["headers"].items) {
            if (header.items.size() == 2) {
                request.headers.emplace_back(header.items[0].text, header.items[1].text);
            }
        }
        requests.push_back(std::move(request));
    }
    return requests;
}
