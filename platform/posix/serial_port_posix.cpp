#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/event_pump.h"
#include "platform/pending_error.h"
#include "platform/posix/posix_support.h"
#include "platform/serial_port.h"
#include "platform/serial_state.h"
#include "platform/system.h"

namespace ktr::platform {

namespace {

bool speed_of(int32_t baud, speed_t& out) {
    static const struct {
        int32_t baud;
        speed_t speed;
    } table[] = {{110, B110},     {300, B300},     {600, B600},     {1200, B1200},    {2400, B2400},
                 {4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400},  {57600, B57600},
                 {115200, B115200}};
    for (const auto& e : table) {
        if (e.baud == baud) {
            out = e.speed;
            return true;
        }
    }
    return false;
}

} // namespace

std::string serial_device_path(int port) {
    if (port < 1) return {};
    const std::string name = "KTRSVC_COM" + std::to_string(port);
    if (auto mapped = get_env(name.c_str()); mapped && !mapped->empty()) return *mapped;
    return "/dev/ttyS" + std::to_string(port - 1);
}

struct SerialPort::Impl : detail::SerialState {
    int fd = -1;
    int watch = 0;

    bool apply_line() {
        termios t{};
        if (tcgetattr(fd, &t) != 0) return false;
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= sizes[line.data_bits - 5];
        if (line.parity != 'N') t.c_cflag |= PARENB;
        if (line.parity == 'O') t.c_cflag |= PARODD;
        if (line.stop_bits == 2) t.c_cflag |= CSTOPB;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
        if (handshaking == 1 || handshaking == 3) t.c_iflag |= IXON | IXOFF;
        if (handshaking == 2 || handshaking == 3) t.c_cflag |= CRTSCTS;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        speed_t speed = B9600;
        speed_of(line.baud, speed);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        return tcsetattr(fd, TCSANOW, &t) == 0;
    }

    // Modem lines; devices without them (pseudo-terminals) ignore the request.
    void apply_modem_lines() {
        int bits = TIOCM_DTR;
        ioctl(fd, dtr ? TIOCMBIS : TIOCMBIC, &bits);
        bits = TIOCM_RTS;
        ioctl(fd, rts ? TIOCMBIS : TIOCMBIC, &bits);
    }

    void close_port() {
        if (fd < 0) return;
        if (watch) unwatch(watch);
        watch = 0;
        ioctl(fd, TIOCNXCL);
        ::close(fd);  // also drops the lock
        fd = -1;
        in_buffer.clear();
    }

    bool open_port() {
        if (fd >= 0) {
            set_pending_error(comPortAlreadyOpen, "Port already open");
            return false;
        }
        const std::string path = serial_device_path(comm_port);
        const int f = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (f < 0) {
            set_pending_error(comPortOpenFailed, "Port open failed: " + path + ": " + std::strerror(errno));
            return false;
        }
        if (!isatty(f)) {
            ::close(f);
            set_pending_error(comPortOpenFailed, "Port open failed: " + path + " is not a serial port");
            return false;
        }
        // Another program (or another control of ours) holding the port makes it busy.
        if (flock(f, LOCK_EX | LOCK_NB) != 0) {
            ::close(f);
            set_pending_error(comPortAlreadyOpen, "Port already open: " + path + " is in use");
            return false;
        }
        ioctl(f, TIOCEXCL);
        fd = f;
        if (!apply_line()) {
            const int e = errno;
            close_port();
            set_pending_error(comPortOpenFailed, "Port open failed: " + path + ": " + std::strerror(e));
            return false;
        }
        apply_modem_lines();
        tcflush(fd, TCIOFLUSH);
        in_buffer.clear();
        // Input arrives through the event pump, as the control's events do.
        // A device that hung up is no longer watched, so that it cannot keep the pump busy.
        watch = watch_handle(handle_of(fd), HandleEvents::input, [this](HandleEvents ready) {
            if (!read_input() && any_of(ready, HandleEvents::closed)) set_watch_interest(watch, HandleEvents::none);
        });
        return true;
    }

    bool read_input();
};

// Reads what has arrived and raises the receive events; false when nothing could be read.
bool SerialPort::Impl::read_input() {
    size_t received = 0;
    bool overflow = false;
    while (fd >= 0) {
        char chunk[256];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // nothing more now, or the device is gone
        const size_t room = kInBufferSize - std::min(kInBufferSize, in_buffer.size());
        const size_t kept = std::min(room, static_cast<size_t>(n));
        if (kept < static_cast<size_t>(n)) overflow = true;
        in_buffer.append(chunk, kept);
        received += kept;
    }
    if (overflow) raise(comEventRxOver);
    // One receive event per byte while the threshold is met; a handler may close the port meanwhile.
    for (size_t i = 0; i < received && fd >= 0; ++i) {
        if (r_threshold <= 0 || in_buffer.size() < static_cast<size_t>(r_threshold)) break;
        raise(comEvReceive);
    }
    return received > 0 || overflow;
}

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}
SerialPort::~SerialPort() { impl_->close_port(); }

detail::SerialState& SerialPort::state() const { return *impl_; }
bool SerialPort::apply_line() { return impl_->apply_line(); }
void SerialPort::apply_modem_lines() { impl_->apply_modem_lines(); }

bool SerialPort::PortOpen() const { return impl_->fd >= 0; }
bool SerialPort::PortOpen(bool open) {
    if (open) return impl_->open_port();
    impl_->close_port();
    return true;
}

void SerialPort::report_device_error() { set_pending_error_from_errno(errno); }

bool SerialPort::Output(std::string_view bytes) {
    if (impl_->fd < 0) {
        set_pending_error(comPortNotOpen, "Operation valid only when the port is open");
        return false;
    }
    while (!bytes.empty()) {
        const ssize_t n = ::write(impl_->fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            set_pending_error_from_errno(n < 0 ? errno : EAGAIN);
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace ktr::platform
