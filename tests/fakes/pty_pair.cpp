#include "fakes/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace ktr::testing {

PtyPair::PtyPair() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    char name[128] = {};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0)
        return;
    slave_path_ = name;
    keep_slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
}

PtyPair::~PtyPair() {
    for (const int fd : {keep_slave_, master_}) close(fd);  // -1 when not opened: nothing to close
}

void PtyPair::write(const std::string& bytes) const {
    for (ssize_t done = 0, n = 0; done < static_cast<ssize_t>(bytes.size()); done += n)
        if ((n = ::write(master_, bytes.data() + done, bytes.size() - done)) <= 0) return;
}

std::string PtyPair::read_available(int wait_ms) const {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    // Until nothing more comes for a moment, or the slave side is closed.
    for (char buf[256]; poll(&p, 1, out.empty() ? wait_ms : 20) > 0;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

} // namespace ktr::testing
