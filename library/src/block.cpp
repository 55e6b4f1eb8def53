#include "block.h"

#include <algorithm>
#include <cstring>

#include "reply_parse.h"
#include "tovrane.h"

namespace tovrane {

namespace {

void put_le16(std::span<std::uint8_t> out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v & 0xFFu);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

constexpr bool is_separator(char c) { return c == '/' || c == '\\'; }

constexpr char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

DosDateTime dos_date_time(const std::tm& local) {
    DosDateTime d;
    const int year = local.tm_year + 1900;
    if (year < 1980) return d;  // the first second MS-DOS can express: 1980-01-01 00:00:00
    if (year > 2107) {
        return DosDateTime{127, 12, 31, 23, 59, 29};
    }
    d.year = static_cast<std::uint16_t>(year - 1980);
    d.month = static_cast<std::uint16_t>(std::clamp(local.tm_mon + 1, 1, 12));
    d.day = static_cast<std::uint16_t>(std::clamp(local.tm_mday, 1, 31));
    d.hour = static_cast<std::uint16_t>(std::clamp(local.tm_hour, 0, 23));
    d.minute = static_cast<std::uint16_t>(std::clamp(local.tm_min, 0, 59));
    // A leap second (60) still fits the 5-bit field as 29.
    d.seconds2 = static_cast<std::uint16_t>(std::clamp(local.tm_sec, 0, 59) / 2);
    return d;
}

std::string header_name(std::string_view name) {
    const std::size_t cut = name.find_last_of("/\\:");
    std::string_view last = (cut == std::string_view::npos) ? name : name.substr(cut + 1);
    if (last.size() > kHeaderNameMax) last = last.substr(last.size() - kHeaderNameMax);
    std::string out(last);
    std::transform(out.begin(), out.end(), out.begin(), ascii_lower);
    return out;
}

PathParts SplitPath(std::string_view path) {
    PathParts parts;
    std::size_t first_sep = std::string_view::npos;
    std::size_t last_sep = std::string_view::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        if (c == ':' && i > 0) {
            parts.drive.assign({path[i - 1], ':'});
        } else if (is_separator(c)) {
            if (first_sep == std::string_view::npos) first_sep = i;
            last_sep = i;
        }
    }
    std::size_t name_start = 0;
    if (last_sep != std::string_view::npos) {
        parts.folder.assign(path.substr(first_sep, last_sep - first_sep + 1));
        name_start = last_sep + 1;
    } else if (!parts.drive.empty()) {
        // "C:name.ext": the name follows the drive.
        name_start = path.find_last_of(':') + 1;
    }
    const std::string_view name = path.substr(name_start);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos) {
        parts.base.assign(name);
    } else {
        parts.base.assign(name.substr(0, dot));
        parts.extension.assign(name.substr(dot));
    }
    return parts;
}

void encode_header_record(const HeaderRecord& record,
                          std::span<std::uint8_t, kHeaderRecordSize> out) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    const std::size_t n = std::min(record.name.size(), kHeaderNameMax);
    std::memcpy(out.data(), record.name.data(), n);  // NUL follows: the record was zeroed
    out[13] = static_cast<std::uint8_t>(record.size & 0xFFu);
    out[14] = static_cast<std::uint8_t>((record.size >> 8) & 0xFFu);
    out[15] = static_cast<std::uint8_t>((record.size >> 16) & 0xFFu);
    out[16] = static_cast<std::uint8_t>((record.size >> 24) & 0xFFu);
    put_le16(out, 17, record.year);
    put_le16(out, 19, record.month);
    put_le16(out, 21, record.day);
    put_le16(out, 23, record.hour);
    put_le16(out, 25, record.minute);
    put_le16(out, 27, record.seconds2);
}

void seal_block(Block& block, std::uint16_t length) {
    MakeCRC16Table();  // built once; later calls return at once
    put_le16(block, 0, length);
    const std::uint16_t crc = GetCRC16(block.data(), static_cast<std::uint32_t>(kCrcOffset));
    block[kCrcOffset] = static_cast<std::uint8_t>(crc >> 8);
    block[kCrcOffset + 1] = static_cast<std::uint8_t>(crc & 0xFFu);
}

void BuildHeaderBlock(Block& block, const HeaderRecord& record) {
    encode_header_record(record, std::span<std::uint8_t, kHeaderRecordSize>(
                                     block.data() + kPayloadOffset, kHeaderRecordSize));
    seal_block(block, static_cast<std::uint16_t>(kHeaderRecordSize));
}

void build_no_file_block(Block& block) { seal_block(block, 0); }

std::size_t fill_data_block(Block& block, std::span<const std::uint8_t> data) {
    const std::size_t n = std::min(data.size(), kPayloadSize);
    if (n > 0) {
        std::memcpy(block.data() + kPayloadOffset, data.data(), n);
        seal_block(block, static_cast<std::uint16_t>(n));
    } else {
        put_le16(block, 0, 0);  // the CRC of the block before stays
    }
    return n;
}

std::size_t ReadDataBlock(Block& block, std::FILE* file) {
    std::array<std::uint8_t, kPayloadSize> buffer{};
    std::size_t total = 0;
    while (file != nullptr && total < kPayloadSize) {
        const std::size_t n = std::fread(buffer.data() + total, 1, kPayloadSize - total, file);
        if (n == 0) break;  // end of file or an error; the caller checks ferror
        total += n;
    }
    return fill_data_block(block, std::span<const std::uint8_t>(buffer.data(), total));
}

std::uint16_t block_length(const Block& block) {
    return static_cast<std::uint16_t>(block[0] | (block[1] << 8));
}

std::uint16_t block_crc(const Block& block) {
    return static_cast<std::uint16_t>((block[kCrcOffset] << 8) | block[kCrcOffset + 1]);
}

AnswerTracker::Verdict AnswerTracker::on_byte(std::uint8_t byte) {
    silent_waits_ = 0;
    if (byte == kAck) return Verdict::kAccepted;
    if (byte == kNak) {
        if (++naks_ < kMaxNaks) return Verdict::kResend;
        code_ = TOV_ERR_BLOCK_REFUSED;
        return Verdict::kFailed;
    }
    code_ = TOV_ERR_BAD_ANSWER;
    return Verdict::kFailed;
}

AnswerTracker::Verdict AnswerTracker::on_timeout() {
    if (++silent_waits_ < kMaxSilentWaits) return Verdict::kResend;
    code_ = TOV_ERR_SILENT;
    return Verdict::kFailed;
}

AnswerTracker::Verdict AnswerTracker::on_read_failure() {
    code_ = TOV_ERR_TRANSFER_LINE;
    return Verdict::kFailed;
}

Bios1Followup bios1_followup(std::string_view answer) {
    if (parse::is_no_image_answer(answer)) {
        return Bios1Followup::kPleaseUpload;
    }
    if (!answer.empty() && answer.back() == '.') return Bios1Followup::kReadAgain;
    return Bios1Followup::kDone;
}

}  // namespace tovrane
