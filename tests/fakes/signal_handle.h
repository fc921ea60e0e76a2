// A handle the event pump watches that a test gives input by hand, from any thread: on Windows a
// manual-reset event (what a serial port hands the pump), elsewhere a pipe.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "platform/handle.h"

namespace ktr::testing {

class SignalHandle {
public:
#ifdef _WIN32
    SignalHandle() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~SignalHandle() { CloseHandle(event_); }
    platform::OsHandle handle() const { return platform::OsHandle{reinterpret_cast<intptr_t>(event_)}; }
    void set() { SetEvent(event_); }
    void reset() { ResetEvent(event_); }
#else
    SignalHandle() { (void)!pipe2(fds_, O_NONBLOCK | O_CLOEXEC); }
    ~SignalHandle() {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    platform::OsHandle handle() const { return platform::OsHandle{fds_[0]}; }
    void set() { (void)!::write(fds_[1], "x", 1); }
    void reset() {
        char buf[64];
        while (::read(fds_[0], buf, sizeof buf) > 0) {
        }
    }
#endif
    SignalHandle(const SignalHandle&) = delete;
    SignalHandle& operator=(const SignalHandle&) = delete;

private:
#ifdef _WIN32
    HANDLE event_;
#else
    int fds_[2] = {-1, -1};
#endif
};

} // namespace ktr::testing
