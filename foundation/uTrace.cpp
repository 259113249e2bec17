#include "foundation/uTrace.h"

namespace nuq {

void Trace(const std::string&) {}

} // namespace nuq
