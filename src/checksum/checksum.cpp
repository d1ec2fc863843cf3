#include "checksum/checksum.h"

namespace zelvane {

int ComputeChecksum(const std::string&, bool, std::uint32_t&) {
  return 2;
}

}  // namespace zelvane
