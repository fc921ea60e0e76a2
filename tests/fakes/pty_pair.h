// A pseudo-terminal pair: the test holds the master side and plays the device; the code under test opens
// the slave path as its serial port. POSIX only: Windows has no pseudo-terminals, and a test there that
// needs the device skips with its reason.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <string>

#include "fakes/scoped_env.h"

namespace ktr::testing {

#ifndef _WIN32
class PtyPair : NoCopy {
public:
    // The master is non-blocking. The pair also holds the slave open itself (never reading it), so the
    // line does not hang up between the times the code under test opens and closes it.
    PtyPair() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        char name[128] = {};
        if (master_ < 0 || grantpt(master_) || unlockpt(master_) || ptsname_r(master_, name, sizeof name)) return;
        slave_path_ = name;
        keep_slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~PtyPair() { for (const int fd : {keep_slave_, master_}) close(fd); }  // -1 when not opened: nothing to close
    bool ok() const { return master_ >= 0 && !slave_path_.empty(); }
    int master() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }
    void write(const std::string& bytes) const {
        for (ssize_t done = 0, n = 0; done < static_cast<ssize_t>(bytes.size()); done += n)
            if ((n = ::write(master_, bytes.data() + done, bytes.size() - done)) <= 0) return;
    }
    // Reads what the slave side wrote, until nothing more comes for a moment or the slave side is closed
    // (waits up to wait_ms for the first byte).
    std::string read_available(int wait_ms = 0) const {
        std::string out;
        pollfd p{master_, POLLIN, 0};
        for (char buf[256]; poll(&p, 1, out.empty() ? wait_ms : 20) > 0;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }

private:
    int master_ = -1, keep_slave_ = -1;
    std::string slave_path_;
};
#endif

// Points port "COM<n>" at a device for the life of the object.
struct ScopedComMapping : ScopedEnv {
    ScopedComMapping(int port, const std::string& device)
        : ScopedEnv("KTRSVC_COM" + std::to_string(port), device.c_str()) {}
};

} // namespace ktr::testing
