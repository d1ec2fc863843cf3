#include "filespec/qualifiers.h"

namespace zelvane {

// Until the qualifiers are evaluated, only a file under no qualifier passes.
bool PassesQualifiers(RunContext&, const std::string&, const QualifierSet& set) {
  return set.size.empty() && set.time.empty() && set.comp.empty() && set.cont.empty();
}

}  // namespace zelvane
