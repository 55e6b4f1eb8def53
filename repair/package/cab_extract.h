// Taking one member out of a cabinet (CAB) archive, with the argument list of
// the setup toolkit's extraction call that the firmware flow was built on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tq318::repair {

struct CabLimits {
    std::uint32_t maxMembers = 1024;                 // a cabinet with more is refused
    std::uint64_t maxTotalBytes = 256ull << 20;     // sum of all members' sizes
};

// Extracts the member named after the "@" of `atMember` from `package` to
// the file `destination`. Returns true when the member was written whole.
// A damaged or hostile archive (bad checksums, too many or too large
// members, a member that is not there) writes nothing and returns false;
// damaged data is refused, never repaired. The destination is created new
// with mode 0600 and never through a symbolic link.
// `flags` and `sourceDir` are accepted for the caller's sake and not used:
// the package path is complete.
bool extractFileFromCab(std::string_view package, std::string_view atMember,
                        std::string_view destination, int flags, std::string_view sourceDir,
                        const CabLimits& limits = {});

}  // namespace tq318::repair
