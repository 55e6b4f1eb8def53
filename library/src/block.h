// The file transfer's wire format, apart from any I/O: the 260-byte block,
// the 29-byte header record, the controller name taken from a path, the path
// split, and the rules that decide what an answer to a block means.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <span>
#include <string>
#include <string_view>

namespace tovrane {

// Block layout: length (2, LSB first), payload (256), CRC-16/XMODEM over the
// first 258 bytes (2, MSB first).
inline constexpr std::size_t kBlockSize = 260;
inline constexpr std::size_t kPayloadOffset = 2;
inline constexpr std::size_t kPayloadSize = 256;
inline constexpr std::size_t kCrcOffset = kPayloadOffset + kPayloadSize;  // 258
inline constexpr std::size_t kHeaderRecordSize = 29;
inline constexpr std::size_t kHeaderNameSize = 13;  // 12 characters and the NUL
inline constexpr std::size_t kHeaderNameMax = 12;

// Answer bytes.
inline constexpr std::uint8_t kAck = 6;
inline constexpr std::uint8_t kNak = 0x15;

using Block = std::array<std::uint8_t, kBlockSize>;

// The header record's fields before encoding.
struct HeaderRecord {
    std::string name;  // already reduced to the controller name (see header_name)
    std::uint32_t size = 0;
    std::uint16_t year = 0;  // year minus 1980
    std::uint16_t month = 1;
    std::uint16_t day = 1;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t seconds2 = 0;  // seconds / 2
};

// MS-DOS date and time fields of a broken-down local time. Dates outside the
// MS-DOS range (1980..2107) are clamped to its first or last second.
struct DosDateTime {
    std::uint16_t year = 0;  // minus 1980
    std::uint16_t month = 1;
    std::uint16_t day = 1;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t seconds2 = 0;
};
DosDateTime dos_date_time(const std::tm& local);

// The name the controller stores a file under: the last component after
// "/", "\" or ":", its last 12 characters, in lower case (ASCII).
std::string header_name(std::string_view name);

// A path in its parts. "/" and "\" both separate folders; the drive is the
// character before the last ":" and the colon (empty when there is none).
struct PathParts {
    std::string drive;
    std::string folder;     // first separator through the last, both included
    std::string base;       // between the last separator and the extension
    std::string extension;  // from the last "." of the file name part, dot included
    std::string file_name() const { return base + extension; }
};
PathParts SplitPath(std::string_view path);

// Encodes the record into 29 bytes, multi-byte fields LSB first.
void encode_header_record(const HeaderRecord& record, std::span<std::uint8_t, kHeaderRecordSize> out);

// Sets the length field and the CRC over bytes 0..257 (stale payload bytes
// after `length` included, as the controller checks them all).
void seal_block(Block& block, std::uint16_t length);

// Block 0: the record at the start of the payload, length 29; the rest of the
// payload keeps whatever an earlier block left.
void BuildHeaderBlock(Block& block, const HeaderRecord& record);

// The no-file block: length 0, payload unchanged, CRC set.
void build_no_file_block(Block& block);

// Fills the payload with up to 256 bytes; returns how many were taken. The
// CRC is set only when at least one byte was taken, so an empty read leaves
// the previous block's CRC in place.
std::size_t fill_data_block(Block& block, std::span<const std::uint8_t> data);

// Reads the next data block from `file` (up to 256 bytes, short reads retried
// until the end of the file or an error); returns the number read.
std::size_t ReadDataBlock(Block& block, std::FILE* file);

// CRC-16/XMODEM carried on over `data` (start with 0): the CRC of a whole
// file, block by block, as the controller reports it after an upload.
std::uint16_t crc16_update(std::uint16_t crc, std::span<const std::uint8_t> data);

std::uint16_t block_length(const Block& block);
std::uint16_t block_crc(const Block& block);

// The number of data blocks for a file of `size` bytes.
constexpr std::uint32_t data_block_count(std::uint32_t size) {
    return static_cast<std::uint32_t>((std::uint64_t{size} + 255u) / 256u);
}

// What the sender does after an answer (or its absence) to one block.
// Three NAKs refuse the block (40); any other byte ends the transfer (41);
// five time-outs in a row end it (42); a failed read ends it (47). A
// time-out does not count as a NAK, and an answer breaks a run of time-outs.
class AnswerTracker {
public:
    static constexpr int kMaxNaks = 3;
    static constexpr int kMaxSilentWaits = 5;

    enum class Verdict { kAccepted, kResend, kFailed };

    Verdict on_byte(std::uint8_t byte);
    Verdict on_timeout();
    Verdict on_read_failure();

    // The result code once a verdict was kFailed (0 otherwise).
    std::uint16_t code() const { return code_; }
    int naks() const { return naks_; }

private:
    int naks_ = 0;
    int silent_waits_ = 0;
    std::uint16_t code_ = 0;
};

// How long TOV_Load_File waits for the prompt after a transfer of `blocks`
// data blocks: 1000 ms below 82 blocks, else blocks * 1000 / 81.
constexpr std::uint32_t final_wait_ms(std::uint32_t blocks) {
    if (blocks < 82) return 1000;
    return static_cast<std::uint32_t>(std::uint64_t{blocks} * 1000u / 81u);
}

// What follows the controller's answer to the "bios1" line: exactly 50
// characters ending with the prompt mean no image was uploaded; an answer
// ending with "." is still being written, so it is read once more.
enum class Bios1Followup { kDone, kPleaseUpload, kReadAgain };
Bios1Followup bios1_followup(std::string_view answer);

}  // namespace tovrane
