#include <cstring>

#include "platform/pending_error.h"
#include "platform/posix/posix_support.h"

namespace ktr::platform {

void set_pending_error_from_errno(int errno_value) { set_pending_error(errno_value, std::strerror(errno_value)); }

} // namespace ktr::platform
