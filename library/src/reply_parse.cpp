#include "reply_parse.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <string>

#include "tovrane.h"

namespace tovrane::parse {

namespace {

constexpr bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::optional<unsigned> hex_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return std::nullopt;
}

std::string_view skip_blanks(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_blank(text[i])) ++i;
    return text.substr(i);
}

// Up to `n` non-blank characters after skipping blanks (a "%<n>s" conversion).
std::string_view read_chars(std::string_view text, std::size_t n) {
    const std::string_view word = read_word(text);
    return word.substr(0, std::min(n, word.size()));
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Leading decimal digits only (no sign, no blanks); 0 when there are none.
std::int32_t leading_digits(std::string_view text) {
    std::int64_t value = 0;
    for (char c : text) {
        if (!is_digit(c)) break;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<std::int32_t>::max()) break;  // 6 digits at most in practice
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(value, std::numeric_limits<std::int32_t>::max()));
}

constexpr std::string_view kDiskBKey = "Files in Disk B:";
constexpr std::size_t kDirSectionOffset = 17;   // section start after "Files in Disk B:"
constexpr std::string_view kTotalKey = "Total File number is";
constexpr std::size_t kTotalNumberOffset = 21;  // count after the start of kTotalKey
constexpr std::size_t kSizeFieldOffset = 41;    // size field after the label's ")"
constexpr std::size_t kSizeFieldDigits = 5;
constexpr std::size_t kFreeSectionOffset = 21;  // free-space search start after "Files in Disk B:"
constexpr std::string_view kFreeKey = "Free space";
constexpr std::size_t kFreeWordOffset = 11;

}  // namespace

std::string_view buffer_text(const char* buffer, std::size_t capacity) {
    if (buffer == nullptr) return {};
    std::size_t n = 0;
    while (n < capacity && buffer[n] != '\0') ++n;
    return {buffer, n};
}

bool ends_with(std::string_view text, char c) { return !text.empty() && text.back() == c; }

std::optional<std::string_view> after_key(std::string_view text, std::string_view key) {
    const std::size_t pos = text.find(key);
    if (pos == std::string_view::npos) return std::nullopt;
    return text.substr(pos + key.size());
}

std::string_view from_offset(std::string_view text, std::size_t offset) {
    return offset >= text.size() ? std::string_view{} : text.substr(offset);
}

std::string_view read_word(std::string_view text, std::string_view& rest) {
    const std::string_view start = skip_blanks(text);
    std::size_t n = 0;
    while (n < start.size() && !is_blank(start[n])) ++n;
    rest = start.substr(n);
    return start.substr(0, n);
}

std::string_view read_word(std::string_view text) {
    std::string_view rest;
    return read_word(text, rest);
}

std::optional<std::int32_t> read_decimal(std::string_view text) {
    text = skip_blanks(text);
    bool negative = false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || !is_digit(text[i])) return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

void copy_word(std::string_view word, std::span<char> out) {
    if (out.empty()) return;
    const std::size_t n = std::min(word.size(), out.size() - 1);
    std::copy_n(word.begin(), n, out.begin());
    out[n] = '\0';
}

std::optional<std::string_view> value_after_key(std::string_view reply, std::string_view key) {
    if (!ends_with(reply, '>')) return std::nullopt;
    const auto rest = after_key(reply, key);
    if (!rest) return std::nullopt;
    return read_word(*rest);
}

ComSettings parse_com_word(std::string_view word) {
    word = word.substr(0, std::min(word.size(), kComWordMax));
    ComSettings out;
    std::string_view field_start = word;
    std::size_t field_len = 0;
    int field_index = 0;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == ',') {
            const std::string_view field = field_start.substr(0, std::min(field_len, kComFieldMax));
            switch (field_index) {
                case 0: out.baud = read_decimal(field); break;
                case 1: out.data_bits = read_decimal(field); break;
                case 2: out.parity = read_decimal(field); break;
                default: break;  // a fourth or later comma-ended field is dropped
            }
            ++field_index;
            field_start = word.substr(i + 1);
            field_len = 0;
            continue;
        }
        ++field_len;
        if (i + 1 == word.size()) {
            out.stop_bits = read_decimal(field_start.substr(0, std::min(field_len, kComFieldMax)));
        }
    }
    return out;
}

std::optional<ComSettings> parse_com_reply(std::string_view reply) {
    if (!ends_with(reply, '>')) return std::nullopt;
    const auto rest = after_key(reply, kComCurrentKey);
    if (!rest) return std::nullopt;
    return parse_com_word(read_word(*rest));
}

char parity_letter(std::int32_t parity) {
    switch (parity) {
        case 0: return 'n';
        case 1: return 'e';
        case 2: return 'o';
        case 3: return 'm';
        case 4: return 's';
        default: return static_cast<char>(static_cast<unsigned>(parity) & 0xFFu);
    }
}

std::optional<DiskSizes> parse_disk_sizes(std::string_view reply) {
    if (!ends_with(reply, '>')) return std::nullopt;
    const auto a = after_key(reply, "SizeA=");
    if (!a) return std::nullopt;
    DiskSizes out;
    out.size_a = read_decimal(*a);
    if (const auto b = after_key(reply, "SizeB=")) out.size_b = read_decimal(*b);
    return out;
}

bool is_disk_b(char disk) { return disk == 'b' || disk == 'B'; }

namespace {
// Disk B's part of a listing: from `offset` characters after "Files in Disk B:".
std::optional<std::string_view> disk_b_part(std::string_view reply, std::size_t offset) {
    const std::size_t pos = reply.find(kDiskBKey);
    if (pos == std::string_view::npos) return std::nullopt;
    return from_offset(reply, pos + offset);
}
}  // namespace

std::string dir_label(std::size_t index) {
    char label[8];
    std::snprintf(label, sizeof label, index < 10 ? "%01zu)" : "%02zu)", index % 100);
    return label;
}

DirListing parse_dir(std::string_view reply, bool disk_b) {
    DirListing out;
    if (!ends_with(reply, '>')) {
        out.code = TOV_ERR_DIR_REPLY;
        return out;
    }
    std::string_view section = reply;
    if (disk_b) {
        const auto part = disk_b_part(reply, kDirSectionOffset);
        if (!part) {
            out.code = TOV_ERR_NO_DISK_B;
            return out;
        }
        section = *part;
    }
    const std::size_t total = section.find(kTotalKey);
    if (total == std::string_view::npos) {
        out.code = TOV_ERR_NO_TOTAL;
        return out;
    }
    const auto count = read_decimal(from_offset(section, total + kTotalNumberOffset));
    if (!count || *count < 0) {
        out.code = TOV_ERR_NO_TOTAL;  // a count that is missing, not a number or negative: no usable total
        return out;
    }
    out.reported_count = *count;
    const std::size_t entries = std::min<std::size_t>(static_cast<std::size_t>(*count), kDirMaxEntries);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::string label = dir_label(i);
        const std::size_t pos = section.find(label);
        if (pos == std::string_view::npos) continue;  // skipped; later entries are still read
        DirEntry entry;
        std::string_view rest = section.substr(pos + label.size());
        entry.first = read_word(rest, rest);
        entry.second = read_word(rest, rest);
        entry.third = read_word(rest, rest);
        const std::size_t close_paren = pos + label.size() - 1;
        // The size field stays inside the entry's own line: blanks before it
        // are skipped (a right-aligned field), a line end never is.
        std::string_view line = section.substr(close_paren);
        line = line.substr(0, line.find_first_of("\r\n"));
        std::string_view field = from_offset(line, kSizeFieldOffset);
        field.remove_prefix(std::min(field.find_first_not_of(" \t"), field.size()));
        std::uint32_t size = 0;
        std::size_t digits = 0;
        for (; digits < kSizeFieldDigits && digits < field.size(); ++digits) {
            const auto v = hex_value(field[digits]);
            if (!v) break;
            size = size * 16 + *v;
        }
        if (digits > 0) entry.size = size;
        out.entries[i] = entry;
    }
    return out;
}

FreeSpace parse_free_space(std::string_view reply, bool disk_b) {
    FreeSpace out;
    if (!ends_with(reply, '>')) {
        out.code = TOV_ERR_BAD_REPLY;
        return out;
    }
    std::string_view search = reply;
    if (disk_b) {
        const auto part = disk_b_part(reply, kFreeSectionOffset);
        if (!part) {
            out.code = TOV_ERR_NO_DISK_B;
            return out;
        }
        search = *part;
    }
    const std::size_t pos = search.find(kFreeKey);
    if (pos == std::string_view::npos) {
        out.code = TOV_ERR_BAD_REPLY;
        return out;
    }
    out.text = read_word(from_offset(search, pos + kFreeWordOffset));
    return out;
}

VersionInfo parse_version(std::string_view reply) {
    VersionInfo out;
    if (!ends_with(reply, '>')) {
        out.code = TOV_ERR_BAD_REPLY;
        return out;
    }
    if (const std::size_t pos = reply.find("Tovrane for"); pos != std::string_view::npos) {
        out.model = read_word(from_offset(reply, pos + 12));
    } else if (const std::size_t udp = reply.find("Tovrane_UDP for"); udp != std::string_view::npos) {
        out.model = read_word(from_offset(reply, udp + 16));
    }
    if (const auto flash = after_key(reply, "FLASH MEMORY:")) out.flash = read_word(*flash);

    const std::size_t ver = reply.find("Ver.");
    if (ver == std::string_view::npos) {
        out.code = TOV_ERR_BAD_REPLY;
        return out;
    }
    const std::string_view major = read_chars(from_offset(reply, ver + 5), 1);
    const std::string_view minor = read_chars(from_offset(reply, ver + 7), 2);

    const std::size_t build = reply.find("build");
    if (build == std::string_view::npos) {
        out.code = TOV_ERR_BAD_REPLY;
        return out;
    }
    const std::string_view number = read_chars(from_offset(reply, build + 6), 3);
    std::string digits;
    digits.append(major).append(minor).append(number);
    out.version = leading_digits(digits);

    std::string_view rest = from_offset(reply, build + 10);
    const std::string_view w1 = read_word(rest, rest);
    const std::string_view w2 = read_word(rest, rest);
    const std::string_view w3 = read_word(rest, rest);
    out.build_date.append(w1.substr(0, std::min<std::size_t>(3, w1.size())))
        .append("/")
        .append(w2.substr(0, std::min<std::size_t>(3, w2.size())))
        .append("/")
        .append(w3.substr(0, std::min<std::size_t>(7, w3.size())));
    return out;
}

std::optional<std::int32_t> parse_probe(std::string_view reply, std::string_view model) {
    if (!ends_with(reply, '>')) return std::nullopt;
    std::int32_t flag = 0;
    if (const auto data = after_key(reply, "data=")) {
        flag = equals_ignoring_case(read_word(*data), "50") ? 1 : 0;
    }
    if (equals_ignoring_case(model, "q-5312ax") || equals_ignoring_case(model, "KX2000")) flag = 1;
    return flag;
}

bool ready_for_file(std::string_view reply) { return ends_with(reply, '!'); }

bool reports_no_space(std::string_view reply) {
    return reply.find("NOT enough space") != std::string_view::npos;
}

bool upload_report_ok(std::string_view reply) {
    return reply.find("CRC16=") != std::string_view::npos || ends_with(reply, '>');
}

std::optional<std::uint16_t> reported_crc16(std::string_view reply) {
    constexpr std::string_view kKey = "CRC16=";
    const std::size_t at = reply.find(kKey);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string_view digits = reply.substr(at + kKey.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::uint16_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        if (i >= digits.size() || hex(digits[i]) < 0) return std::nullopt;
        value = static_cast<std::uint16_t>((value << 4) | hex(digits[i]));
    }
    if (digits.size() > 4 && hex(digits[4]) >= 0) return std::nullopt;
    return value;
}

bool is_no_image_answer(std::string_view reply) { return reply.size() == 50 && ends_with(reply, '>'); }

bool says_failure(std::string_view answer) {
    std::string lower(answer);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string_view word : kFailureWords) {
        if (lower.find(word) != std::string::npos) return true;
    }
    return false;
}

}  // namespace tovrane::parse
