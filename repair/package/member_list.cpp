#include "member_list.h"

namespace pelorim {

std::vector<std::string> split_member_lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
            continue;
        }
        ++i;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

bool is_unsafe_member_name(std::string_view name) {
    if (name.empty()) return false;
    if (name == "." || name == "..") return true;
    return name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos;
}

}  // namespace pelorim
