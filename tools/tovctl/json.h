// A small JSON writer for tovctl's --json output. Device text is untrusted
// bytes: control characters and bytes above 127 are written as \u00XX, so
// the output is always valid JSON (bytes taken as Latin-1).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace tovctl {

class Json {
public:
    Json& begin_object() { return open('{'); }
    Json& end_object() { return close('}'); }
    Json& begin_array() { return open('['); }
    Json& end_array() { return close(']'); }

    Json& key(std::string_view k) {
        separator();
        string(k);
        out_ += ':';
        after_key_ = true;
        return *this;
    }
    Json& value(std::string_view v) {
        separator();
        string(v);
        return *this;
    }
    Json& value(const char* v) { return value(std::string_view(v)); }
    Json& value(std::int64_t v) {
        separator();
        out_ += std::to_string(v);
        return *this;
    }
    Json& value(bool v) {
        separator();
        out_ += v ? "true" : "false";
        return *this;
    }
    Json& value(std::optional<std::int64_t> v) {
        if (v) return value(*v);
        separator();
        out_ += "null";
        return *this;
    }
    template <typename T>
    Json& field(std::string_view k, T v) {
        key(k);
        return value(v);
    }

    const std::string& text() const { return out_; }

private:
    Json& open(char c) {
        separator();
        out_ += c;
        first_ = true;
        return *this;
    }
    Json& close(char c) {
        out_ += c;
        first_ = false;
        return *this;
    }
    void separator() {
        if (after_key_) {
            after_key_ = false;
            return;
        }
        if (!first_ && !out_.empty()) out_ += ',';
        first_ = false;
    }
    void string(std::string_view s) {
        out_ += '"';
        for (char ch : s) {
            const auto c = static_cast<unsigned char>(ch);
            switch (c) {
                case '"': out_ += "\\\""; break;
                case '\\': out_ += "\\\\"; break;
                case '\n': out_ += "\\n"; break;
                case '\r': out_ += "\\r"; break;
                case '\t': out_ += "\\t"; break;
                default:
                    if (c < 0x20 || c >= 0x7F) {
                        char buf[8];
                        std::snprintf(buf, sizeof buf, "\\u%04x", c);
                        out_ += buf;
                    } else {
                        out_ += ch;
                    }
            }
        }
        out_ += '"';
    }

    std::string out_;
    bool first_ = true;
    bool after_key_ = false;
};

}  // namespace tovctl
