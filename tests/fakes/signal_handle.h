// A handle the event pump watches that a test gives input by hand, from any thread: on Windows a
// manual-reset event (what a serial port hands the pump), elsewhere a pipe.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "fakes/scoped_env.h"
#include "platform/handle.h"

namespace ktr::testing {

class SignalHandle : NoCopy {
public:
#ifdef _WIN32
    SignalHandle() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~SignalHandle() { CloseHandle(event_); }
    platform::OsHandle handle() const { return platform::OsHandle{reinterpret_cast<intptr_t>(event_)}; }
    void set() { SetEvent(event_); }
    void reset() { ResetEvent(event_); }
#else
    SignalHandle() { (void)!pipe2(fds_, O_NONBLOCK | O_CLOEXEC); }
    ~SignalHandle() { for (const int fd : fds_) ::close(fd); }
    platform::OsHandle handle() const { return platform::OsHandle{fds_[0]}; }
    void set() { (void)!::write(fds_[1], "x", 1); }
    void reset() {
        for (char buf[64]; ::read(fds_[0], buf, sizeof buf) > 0;) {}
    }
#endif

private:
#ifdef _WIN32
    HANDLE event_;
#else
    int fds_[2] = {-1, -1};
#endif
};

} // namespace ktr::testing
