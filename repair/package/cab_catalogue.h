// The checks every cabinet reader makes on the catalogue before anything is
// extracted: bounded member count and total size, and the wanted member
// found by its exact name (bytes as stored, no case folding).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cab_extract.h"

namespace tq318::repair {

// The member an "@name" argument asks for; null when it names none.
std::optional<std::string> wantedMember(std::string_view atMember);

class CabCatalogue {
public:
    CabCatalogue(std::string wanted, const CabLimits& limits) : wanted_(std::move(wanted)), limits_(limits) {}
    // One catalogue entry; false once the cabinet is over a limit.
    bool add(std::string_view name, std::uint64_t size);
    // The wanted member's declared size, if it was listed.
    std::optional<std::uint64_t> wantedSize() const { return wantedSize_; }
    const std::string& wanted() const { return wanted_; }

private:
    std::string wanted_;
    CabLimits limits_;
    std::uint32_t members_ = 0;
    std::uint64_t total_ = 0;
    std::optional<std::uint64_t> wantedSize_;
};

}  // namespace tq318::repair
