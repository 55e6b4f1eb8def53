// Pure parsers for the console's replies to the settings, query and transfer
// commands. Every function takes the reply as a std::string_view (the device's
// text, untrusted), never reads outside it, and returns values: the exports do
// the I/O, call these, and copy the results into the caller's buffers.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tovrane::parse {

// Results that view the reply must not outlive it: for the structured parsers
// the overloads taking a temporary std::string are deleted, so such a call
// does not compile.

// ---- Small building blocks ----

// The text of a NUL-terminated reply buffer of `capacity` bytes; never reads
// past the buffer even when the terminator is missing.
std::string_view buffer_text(const char* buffer, std::size_t capacity);

// True when `text` is non-empty and its last character is `c`.
bool ends_with(std::string_view text, char c);

// The rest of `text` after the first occurrence of `key` (case-sensitive), or
// nothing when the key does not occur.
std::optional<std::string_view> after_key(std::string_view text, std::string_view key);

// The rest of `text` from `offset` on; empty when the offset lies past the end.
std::string_view from_offset(std::string_view text, std::size_t offset);

// The reading of a "%s" conversion: skip white space (blank, tab, CR, LF, VT,
// FF), then the run of non-blank characters. Empty when only blanks remain.
std::string_view read_word(std::string_view text);

// As read_word, and `rest` receives the text after the word.
std::string_view read_word(std::string_view text, std::string_view& rest);

// The reading of a "%d"/"%ld" conversion: optional white space, an optional
// sign, then decimal digits up to the first non-digit. Nothing when no digit
// follows, or when the number does not fit 32 bits (the output then keeps its
// former value, as with any field that is not a number).
std::optional<std::int32_t> read_decimal(std::string_view text);

// Copies `word` into `out` as NUL-terminated text, cut to out.size() - 1
// characters. Writes nothing when `out` is empty.
void copy_word(std::string_view word, std::span<char> out);

// ---- Network settings: "IP=", "MASK=", "Gateway=" ----

// The word after `key` when the reply ends with ">" and holds the key;
// nothing otherwise (the export's own code follows).
std::optional<std::string_view> value_after_key(std::string_view reply, std::string_view key);

// ---- Controller COM port: "Current set is: 115200,8,0,1" ----

struct ComSettings {
    std::optional<std::int32_t> baud;
    std::optional<std::int32_t> data_bits;
    std::optional<std::int32_t> parity;
    std::optional<std::int32_t> stop_bits;
};

inline constexpr std::string_view kComCurrentKey = "Current set is: ";
inline constexpr std::string_view kComSetKey = "Set to:";
inline constexpr std::size_t kComWordMax = 31;   // characters of the settings word kept
inline constexpr std::size_t kComFieldMax = 11;  // characters of one field kept

// Reads the comma-separated settings word: the first three comma-ended
// fields are baud, data bits and parity, a fourth or later comma-ended field
// is dropped, and the characters after the last comma are the stop bits (a
// word without a comma is read whole into the stop bits; a word ending with a
// comma sets no stop bits). A field that is not a number gives no value.
ComSettings parse_com_word(std::string_view word);

// The settings of a `TOV_Get_COM` reply: nothing unless the reply ends with
// ">" and holds "Current set is: ".
std::optional<ComSettings> parse_com_reply(std::string_view reply);

// The parity letter that `TOV_Set_COM` sends for a parity code.
char parity_letter(std::int32_t parity);

// ---- Disk sizes: "SizeA=1024 SizeB=3072" ----

struct DiskSizes {
    std::optional<std::int32_t> size_a;
    std::optional<std::int32_t> size_b;
};

// Nothing unless the reply ends with ">" and holds "SizeA=". "SizeB=" is
// searched from the start of the reply; without it size_b stays empty.
std::optional<DiskSizes> parse_disk_sizes(std::string_view reply);

// ---- Directory listing ----

inline constexpr std::size_t kDirMaxEntries = 100;

struct DirEntry {
    std::string_view first;   // the three words after the label, verbatim
    std::string_view second;  // (empty when the reply ends before them)
    std::string_view third;
    std::optional<std::uint32_t> size;  // up to 5 hex digits 41 characters after ")"
};

struct DirListing {
    std::uint16_t code = 0;  // 0, or 62, 51, 52
    // The count the device reports; it may exceed kDirMaxEntries, but only
    // the first kDirMaxEntries entries are looked for.
    std::int32_t reported_count = 0;
    // Entry i is empty when its label "i)" does not occur in the section.
    std::array<std::optional<DirEntry>, kDirMaxEntries> entries{};
};

// True for the disk selector of flash disk B ('b' or 'B').
bool is_disk_b(char disk);

// Parses a "dir" reply for one disk. Codes: 62 when the reply does not end
// with ">"; 51 for disk B without "Files in Disk B:"; 52 when the section has
// no "Total File number is", or no count follows it, or the count is negative.
DirListing parse_dir(std::string_view reply, bool disk_b);
template <typename S>
    requires std::same_as<S, std::string>
DirListing parse_dir(S&& reply, bool disk_b) = delete;

// The label of entry i: "%01d)" below 10, "%02d)" from 10 on.
std::string dir_label(std::size_t index);

// ---- Free space ----

struct FreeSpace {
    std::uint16_t code = 0;  // 0, 46 (no prompt or no "Free space"), 51 (no disk B)
    std::string_view text;   // the word after "Free space"
};

FreeSpace parse_free_space(std::string_view reply, bool disk_b);
template <typename S>
    requires std::same_as<S, std::string>
FreeSpace parse_free_space(S&& reply, bool disk_b) = delete;

// ---- Version ----

inline constexpr std::size_t kBuildDateSize = 16;  // "%s/%s/%s" of 3, 3 and 7 characters

struct VersionInfo {
    std::uint16_t code = 0;                  // 0 or 46
    std::optional<std::string_view> model;   // after "Tovrane for" / "Tovrane_UDP for"
    std::optional<std::string_view> flash;   // after "FLASH MEMORY:"
    std::int32_t version = 0;                // major, minor and build digits joined
    std::string build_date;                  // "Dec/06/2026"; set only when code is 0
};

// Parses a "ver" reply. The model and flash words are found even when the
// version fields are missing (code 46).
VersionInfo parse_version(std::string_view reply);
template <typename S>
    requires std::same_as<S, std::string>
VersionInfo parse_version(S&& reply) = delete;

// The port-probe flag from an "inp 30a" reply and the model text: nothing
// when the reply does not end with ">" (the flag keeps its value); otherwise 1
// when "data=" is followed by the word "50" (any case) or the model is
// "q-5312ax" or "KX2000" (any case), else 0.
std::optional<std::int32_t> parse_probe(std::string_view reply, std::string_view model);

// ---- File download and OS upload reply checks ----

// The controller waits for a file: the reply ends with "!".
bool ready_for_file(std::string_view reply);
// The controller refused the file for lack of room.
bool reports_no_space(std::string_view reply);
// The report after an OS image upload is acceptable: it holds "CRC16=" or ends with ">".
bool upload_report_ok(std::string_view reply);
// The CRC-16 that the report after an upload gives for the image: the first
// "CRC16=" followed by exactly four hexadecimal digits (either case); nothing
// when there is no such value (a fifth digit makes it none).
std::optional<std::uint16_t> reported_crc16(std::string_view reply);
// The answer to "bios1" when no image was uploaded: exactly 50 characters ending with ">".
bool is_no_image_answer(std::string_view reply);
// The answer to "bios1" or the report after an upload says that something
// went wrong: it holds one of kFailureWords, in any case. A controller's words
// for success are not known in advance; its words for failure are these.
inline constexpr std::string_view kFailureWords[] = {"error",    "fail",    "not installed", "rejected",
                                                     "invalid",  "abort",   "please upload"};
bool says_failure(std::string_view answer);

}  // namespace tovrane::parse
