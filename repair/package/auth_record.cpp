#include "auth_record.h"

namespace tq318::repair {

bool recordChecksumMatches(std::span<const uint8_t> record, CrcRegisters sum) {
    return record.size() >= kAuthRecordSize && record[kRecordCrcLowOffset] == sum.crcHi &&
           record[kRecordCrcHighOffset] == sum.crcLo;
}

bool programChecksumMatches(std::span<const uint8_t> record, CrcRegisters sum) {
    return record.size() >= kAuthRecordSize && record[kProgramCrcLowOffset] == sum.crcHi &&
           record[kProgramCrcHighOffset] == sum.crcLo;
}

bool recordIsGenuine(const CrcTables& tables, std::span<const uint8_t> record) {
    if (record.size() < kAuthRecordSize) return false;
    return recordChecksumMatches(record, modbusCrc(tables, record.first(kAuthRecordSummed)));
}

bool packageIsAuthentic(const CrcTables& tables, std::span<const uint8_t> record, std::span<const uint8_t> program) {
    return recordIsGenuine(tables, record) && programChecksumMatches(record, modbusCrc(tables, program));
}

}  // namespace tq318::repair
