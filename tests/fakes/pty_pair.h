// A pseudo-terminal pair: the test holds the master side and plays the device; the code under test opens
// the slave path as its serial port.
#pragma once

#include <string>

#include "fakes/scoped_env.h"

namespace ktr::testing {

class PtyPair {
public:
    // The master is non-blocking. The pair also holds the slave open itself (never reading it), so the
    // line does not hang up between the times the code under test opens and closes it.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    bool ok() const { return master_ >= 0 && !slave_path_.empty(); }
    int master() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }
    // Writes bytes to the slave's input.
    void write(const std::string& bytes) const;
    // Reads what the slave side wrote and is waiting now (waits up to wait_ms for the first byte).
    std::string read_available(int wait_ms = 0) const;

private:
    int master_ = -1;
    int keep_slave_ = -1;
    std::string slave_path_;
};

// Points port "COM<n>" at a device for the life of the object.
struct ScopedComMapping : ScopedEnv {
    ScopedComMapping(int port, const std::string& device)
        : ScopedEnv("KTRSVC_COM" + std::to_string(port), device.c_str()) {}
};

} // namespace ktr::testing
