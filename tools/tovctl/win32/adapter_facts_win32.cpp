// Windows keeps no device tree to read an adapter's driver or latency timer
// from without the setup API; the ports listing shows none.
#include "adapter_facts.h"

namespace tovctl {

AdapterFacts adapter_facts(const std::string&, const std::string&) { return {}; }

std::string device_tree_root() { return {}; }

}  // namespace tovctl
