// The repair record reader on arbitrary bytes: no crash, and whatever it
// accepts has the fields history prints.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tq318/repair/record_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto record = tq318::repair::parseRecord(text)) {
        if (!(*record)["ended"].is_string() || !(*record)["members"].is_array()) std::abort();
        (void)record->dump();
    }
    (void)tq318::repair::isRecordFileName(text);
    return 0;
}
