#include "cab_catalogue.h"

namespace pelorim {

std::optional<std::string> wantedMember(std::string_view at_member) {
    if (!at_member.empty() && at_member.front() == '@') at_member.remove_prefix(1);
    if (at_member.empty()) return std::nullopt;
    return std::string(at_member);
}

bool CabCatalogue::add(std::string_view name, std::uint64_t size) {
    if (++members_ > limits_.max_members) return false;
    total_ += size;
    if (total_ > limits_.max_total_bytes) return false;
    if (!wanted_size_ && name == wanted_) wanted_size_ = size;
    return true;
}

}  // namespace pelorim
