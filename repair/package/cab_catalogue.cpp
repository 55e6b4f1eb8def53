#include "cab_catalogue.h"

namespace tq318::repair {

std::optional<std::string> wantedMember(std::string_view atMember) {
    if (!atMember.empty() && atMember.front() == '@') atMember.remove_prefix(1);
    if (atMember.empty()) return std::nullopt;
    return std::string(atMember);
}

bool CabCatalogue::add(std::string_view name, std::uint64_t size) {
    if (++members_ > limits_.maxMembers) return false;
    total_ += size;
    if (total_ > limits_.maxTotalBytes) return false;
    if (!wantedSize_ && name == wanted_) wantedSize_ = size;
    return true;
}

}  // namespace tq318::repair
