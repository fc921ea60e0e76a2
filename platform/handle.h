// An object the operating system hands out: a descriptor on POSIX, a HANDLE or SOCKET on Windows. Only the
// backend that made it looks inside; everyone else stores it and passes it back.
#pragma once

#include <cstdint>

namespace ktr::platform {

struct OsHandle {
    intptr_t value = -1;  // -1 is no object on every backend (INVALID_HANDLE_VALUE, INVALID_SOCKET, fd -1)
    bool valid() const { return value != -1; }
    friend bool operator==(OsHandle, OsHandle) = default;
};

inline constexpr OsHandle kNoHandle{};

} // namespace ktr::platform
