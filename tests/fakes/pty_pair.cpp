#include "fakes/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace ktr::testing {

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) return;
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0) return;
    slave_path_ = name;
    keep_slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
}

PtyPair::~PtyPair() {
    if (keep_slave_ >= 0) close(keep_slave_);
    if (master_ >= 0) close(master_);
}

void PtyPair::write(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

std::string PtyPair::read_available(int wait_ms) const {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, wait_ms) <= 0) return out;
    for (;;) {
        char buf[256];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;  // nothing more, or the slave side is closed
        out.append(buf, static_cast<size_t>(n));
        if (poll(&p, 1, 20) <= 0) break;
    }
    return out;
}

} // namespace ktr::testing
