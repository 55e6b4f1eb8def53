// A strict little JSON reader for tovctl's --json output: one value, nothing
// after it. The result maps each scalar's path ("entries.0.name") to its text
// (strings unescaped, numbers and true/false/null as written).
#pragma once

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace mini_json {

using Flat = std::map<std::string, std::string>;

class Reader {
public:
    explicit Reader(std::string_view t) : t_(t) {}
    std::optional<Flat> read() {
        if (!value("") || (ws(), i_ != t_.size())) return std::nullopt;
        return out_;
    }

private:
    void ws() { while (i_ < t_.size() && std::string_view(" \t\r\n").find(t_[i_]) != std::string_view::npos) ++i_; }
    bool eat(char c) { return ws(), i_ < t_.size() && t_[i_] == c ? (++i_, true) : false; }
    bool string(std::string& s) {
        if (!eat('"')) return false;
        while (i_ < t_.size() && t_[i_] != '"') {
            const char c = t_[i_++];
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') { s += c; continue; }
            if (i_ >= t_.size()) return false;
            const char e = t_[i_++];
            const std::size_t k = std::string_view("\"\\/bfnrt").find(e);
            if (k != std::string_view::npos) { s += "\"\\/\b\f\n\r\t"[k]; continue; }
            if (e != 'u' || i_ + 4 > t_.size()) return false;
            const std::string hex(t_.substr(i_, 4));
            char* end = nullptr;
            s += static_cast<char>(std::strtoul(hex.c_str(), &end, 16) & 0xFF);
            if (end != hex.c_str() + 4) return false;
            i_ += 4;
        }
        return i_++ < t_.size();
    }
    bool value(const std::string& path) {
        const auto join = [&](const std::string& key) { return path.empty() ? key : path + "." + key; };
        if (eat('{')) {
            if (eat('}')) return true;
            for (std::string key; string(key) && eat(':') && value(join(key)); key.clear())
                if (!eat(',')) return eat('}');
            return false;
        }
        if (eat('[')) {
            if (eat(']')) return true;
            int n = 0;
            while (value(join(std::to_string(n++))))
                if (!eat(',')) return eat(']');
            return false;
        }
        std::string s;
        if (i_ < t_.size() && t_[i_] == '"') return string(s) && (out_[path] = s, true);
        for (const char* word : {"true", "false", "null"})
            if (t_.substr(i_).starts_with(word)) return i_ += std::strlen(word), out_[path] = word, true;
        const std::size_t start = i_;
        while (i_ < t_.size() && std::string_view("0123456789+-.eE").find(t_[i_]) != std::string_view::npos) ++i_;
        const std::string number(t_.substr(start, i_ - start));
        char* end = nullptr;
        std::strtod(number.c_str(), &end);
        return !number.empty() && end == number.c_str() + number.size() && (out_[path] = number, true);
    }

    std::string_view t_;
    std::size_t i_ = 0;
    Flat out_;
};

inline std::optional<Flat> parse(std::string_view text) { return Reader(text).read(); }

}  // namespace mini_json
