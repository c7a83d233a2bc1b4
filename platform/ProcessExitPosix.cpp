#include "platform/ProcessExit.h"

namespace sion {

bool ProcessIsTerminating() noexcept { return false; }

}  // namespace sion
