// A strict little JSON reader for checking tovctl's --json output: parses one
// value (objects, arrays, strings with escapes, numbers, true/false/null) and
// rejects anything else, including trailing text.
#pragma once

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace mini_json {

struct Value;
using Object = std::map<std::string, Value>;
using Array = std::vector<Value>;

struct Value {
    std::variant<std::nullptr_t, bool, double, std::string, std::shared_ptr<Array>, std::shared_ptr<Object>> v;

    bool is_null() const { return std::holds_alternative<std::nullptr_t>(v); }
    const std::string& str() const { return std::get<std::string>(v); }
    double num() const { return std::get<double>(v); }
    bool boolean() const { return std::get<bool>(v); }
    const Array& arr() const { return *std::get<std::shared_ptr<Array>>(v); }
    const Object& obj() const { return *std::get<std::shared_ptr<Object>>(v); }
    const Value& operator[](const std::string& key) const { return obj().at(key); }
    bool has(const std::string& key) const { return obj().count(key) != 0; }
};

class Parser {
public:
    explicit Parser(std::string_view text) : t_(text) {}

    std::optional<Value> parse_document() {
        auto v = value();
        skip();
        if (!v || i_ != t_.size()) return std::nullopt;
        return v;
    }

private:
    void skip() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t')) ++i_;
    }
    bool literal(std::string_view word) {
        if (t_.substr(i_, word.size()) != word) return false;
        i_ += word.size();
        return true;
    }
    std::optional<std::string> string() {
        if (i_ >= t_.size() || t_[i_] != '"') return std::nullopt;
        ++i_;
        std::string out;
        while (i_ < t_.size()) {
            const char c = t_[i_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= t_.size()) return std::nullopt;
            const char e = t_[i_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    if (i_ + 4 > t_.size()) return std::nullopt;
                    unsigned code = 0;
                    for (int k = 0; k < 4; ++k) {
                        const char h = t_[i_++];
                        if (!std::isxdigit(static_cast<unsigned char>(h))) return std::nullopt;
                        code = code * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(h))
                                                                     ? h - '0'
                                                                     : (std::tolower(h) - 'a' + 10));
                    }
                    out += static_cast<char>(code & 0xFF);  // enough for these checks
                    break;
                }
                default: return std::nullopt;
            }
        }
        return std::nullopt;
    }
    std::optional<Value> value() {
        skip();
        if (i_ >= t_.size()) return std::nullopt;
        const char c = t_[i_];
        if (c == '{') {
            ++i_;
            auto obj = std::make_shared<Object>();
            skip();
            if (i_ < t_.size() && t_[i_] == '}') {
                ++i_;
                return Value{obj};
            }
            while (true) {
                skip();
                auto k = string();
                skip();
                if (!k || i_ >= t_.size() || t_[i_] != ':') return std::nullopt;
                ++i_;
                auto v = value();
                if (!v) return std::nullopt;
                (*obj)[*k] = *v;
                skip();
                if (i_ < t_.size() && t_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (i_ < t_.size() && t_[i_] == '}') {
                    ++i_;
                    return Value{obj};
                }
                return std::nullopt;
            }
        }
        if (c == '[') {
            ++i_;
            auto arr = std::make_shared<Array>();
            skip();
            if (i_ < t_.size() && t_[i_] == ']') {
                ++i_;
                return Value{arr};
            }
            while (true) {
                auto v = value();
                if (!v) return std::nullopt;
                arr->push_back(*v);
                skip();
                if (i_ < t_.size() && t_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (i_ < t_.size() && t_[i_] == ']') {
                    ++i_;
                    return Value{arr};
                }
                return std::nullopt;
            }
        }
        if (c == '"') {
            auto s = string();
            if (!s) return std::nullopt;
            return Value{*s};
        }
        if (literal("true")) return Value{true};
        if (literal("false")) return Value{false};
        if (literal("null")) return Value{nullptr};
        const std::size_t start = i_;
        if (i_ < t_.size() && t_[i_] == '-') ++i_;
        while (i_ < t_.size() && (std::isdigit(static_cast<unsigned char>(t_[i_])) || t_[i_] == '.' ||
                                  t_[i_] == 'e' || t_[i_] == 'E' || t_[i_] == '+' || t_[i_] == '-')) {
            ++i_;
        }
        if (i_ == start) return std::nullopt;
        const std::string number(t_.substr(start, i_ - start));
        char* end = nullptr;
        const double d = std::strtod(number.c_str(), &end);
        if (end != number.c_str() + number.size()) return std::nullopt;
        return Value{d};
    }

    std::string_view t_;
    std::size_t i_ = 0;
};

inline std::optional<Value> parse(std::string_view text) { return Parser(text).parse_document(); }

}  // namespace mini_json
