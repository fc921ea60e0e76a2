// The comm control on a COM port: CreateFileW on "\\.\COMn" with overlapped I/O. One read is always
// pending; its manual-reset event stays signalled from the moment bytes arrive until they are taken, which
// is what the event pump watches. Writes complete in the background the same way.
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "platform/win32/win32_support.h"
#include "platform/event_pump.h"
#include "platform/pending_error.h"
#include "platform/serial_port.h"
#include "platform/serial_state.h"
#include "platform/system.h"

namespace ktr::platform {
namespace {

// What one Output may leave queued behind a write still in progress; more is refused as a full device.
constexpr size_t kOutBufferSize = 512;
// How long closing the port waits for sent bytes to leave, beyond their time on the line.
constexpr DWORD kCloseDrainMs = 500;

std::string system_text(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string out;
    if (n && text) {
        const int len = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        out.resize(static_cast<size_t>(len));
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), len, nullptr, nullptr);
    }
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "Error " + std::to_string(code) : out;
}

void set_pending_system_error(DWORD code) { set_pending_error(static_cast<int32_t>(code), system_text(code)); }

// The device of serial port "COMn": the environment variable KTRSVC_COM<n> when set and not empty,
// otherwise "\\.\COMn" (the form that also reaches ports above 9).
std::string serial_device_path(int port) {
    const std::string name = "KTRSVC_COM" + std::to_string(port);
    if (auto mapped = get_env(name.c_str()); mapped && !mapped->empty()) return *mapped;
    return "\\\\.\\COM" + std::to_string(port);
}

// The devices our controls hold. The system keeps a COM port to one opener, but not every device behind
// a mapped name does (Wine's do not), so a second control of ours is refused here as well.
std::set<std::string>& held_devices() {
    static std::set<std::string> held;
    return held;
}

std::string device_key(const std::string& path) {
    std::string key = path;
    for (char& c : key) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c == '/' ? '\\' : c);
    return key;
}

} // namespace

struct SerialPort::Impl : detail::SerialState {
    HANDLE port = INVALID_HANDLE_VALUE;
    OVERLAPPED read_op{};
    OVERLAPPED write_op{};
    bool reading = false;  // a read is pending on read_op
    bool writing = false;  // a write is pending on write_op
    bool failed = false;   // the device is gone: no more reads
    DWORD line_errors = 0;  // CE_ flags not yet raised as events
    char read_chunk[256];
    std::string sending;  // the bytes of the pending write
    std::string queued;   // bytes waiting for it to finish
    int read_watch = 0;
    int write_watch = 0;
    std::string held;  // the device as held_devices() knows it

    bool is_open() const { return port != INVALID_HANDLE_VALUE; }

    bool apply_line() {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(port, &dcb)) return false;
        dcb.BaudRate = static_cast<DWORD>(line.baud);
        dcb.ByteSize = static_cast<BYTE>(line.data_bits);
        dcb.Parity = line.parity == 'E' ? EVENPARITY : line.parity == 'O' ? ODDPARITY : NOPARITY;
        dcb.StopBits = line.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = line.parity != 'N';
        const bool xon_xoff = handshaking == 1 || handshaking == 3;
        const bool rts_cts = handshaking == 2 || handshaking == 3;
        dcb.fOutxCtsFlow = rts_cts;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = xon_xoff;
        dcb.fInX = xon_xoff;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = static_cast<WORD>(kInBufferSize / 4);
        dcb.XoffLim = static_cast<WORD>(kInBufferSize / 4);
        dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        dcb.fRtsControl = rts_cts ? RTS_CONTROL_HANDSHAKE : rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        dcb.fNull = FALSE;
        dcb.fErrorChar = FALSE;
        // A line error must not stop the reads until someone clears it: the read handler clears it.
        dcb.fAbortOnError = FALSE;
        return SetCommState(port, &dcb) != FALSE;
    }

    // Modem lines; a line the handshake drives is left to it.
    void apply_modem_lines() {
        EscapeCommFunction(port, dtr ? SETDTR : CLRDTR);
        if (handshaking < 2) EscapeCommFunction(port, rts ? SETRTS : CLRRTS);
    }

    // No time-outs: a read waits until the bytes it asks for are there. It asks for what is already queued,
    // or for one byte when nothing is, so it never waits for more than what arrives. (The mode where a read
    // returns with whatever came first is not honoured by every driver: Wine's never completes.)
    bool apply_timeouts() {
        COMMTIMEOUTS t{};
        return SetCommTimeouts(port, &t) != FALSE;
    }

    // The bytes the driver holds; the line errors it reports are kept for the next receive handling.
    DWORD queued_input() {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(port, &errors, &status)) return 0;
        line_errors |= errors;
        return status.cbInQue;
    }

    // Ends a pending operation: cancelled, then waited for, so that its buffer and event may go.
    void finish(OVERLAPPED& op, bool& pending) {
        if (!pending) return;
        CancelIoEx(port, &op);
        DWORD n = 0;
        GetOverlappedResult(port, &op, &n, TRUE);
        pending = false;
    }

    // Lets sent bytes leave before the port closes, as closing a device on other systems does; bounded by
    // their time on the line, so that a stopped handshake cannot hold the module.
    void drain_output() {
        const size_t bytes = sending.size() + queued.size();
        const DWORD line_ms = static_cast<DWORD>(bytes * 10 * 1000 / static_cast<size_t>(std::max(line.baud, 110)));
        const ULONGLONG deadline = GetTickCount64() + line_ms + kCloseDrainMs;
        while (writing) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline || WaitForSingleObject(write_op.hEvent, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0)
                break;
            collect_write();
        }
    }

    void close_port() {
        if (!is_open()) return;
        for (int* w : {&read_watch, &write_watch}) {
            if (*w) unwatch(*w);
            *w = 0;
        }
        drain_output();
        finish(read_op, reading);
        finish(write_op, writing);
        CloseHandle(port);
        port = INVALID_HANDLE_VALUE;
        held_devices().erase(held);
        held.clear();
        for (OVERLAPPED* op : {&read_op, &write_op}) {
            if (op->hEvent) CloseHandle(op->hEvent);
            *op = OVERLAPPED{};
        }
        sending.clear();
        queued.clear();
        in_buffer.clear();
        failed = false;
        line_errors = 0;
    }

    bool open_port() {
        if (is_open()) {
            set_pending_error(comPortAlreadyOpen, "Port already open");
            return false;
        }
        const std::string path = serial_device_path(comm_port);
        if (held_devices().count(device_key(path))) {
            set_pending_error(comPortAlreadyOpen, "Port already open: " + path + " is in use");
            return false;
        }
        // No sharing: a port another program (or another control of ours) holds is busy.
        HANDLE h = CreateFileW(to_wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD e = ::GetLastError();
            if (e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION)
                set_pending_error(comPortAlreadyOpen, "Port already open: " + path + " is in use");
            else
                set_pending_error(comPortOpenFailed, "Port open failed: " + path + ": " + system_text(e));
            return false;
        }
        DCB probe{};
        probe.DCBlength = sizeof probe;
        if (!GetCommState(h, &probe)) {
            CloseHandle(h);
            set_pending_error(comPortOpenFailed, "Port open failed: " + path + " is not a serial port");
            return false;
        }
        port = h;
        held = device_key(path);
        held_devices().insert(held);
        read_op.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        write_op.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!read_op.hEvent || !write_op.hEvent || !apply_line() || !apply_timeouts()) {
            const DWORD e = ::GetLastError();
            close_port();
            set_pending_error(comPortOpenFailed, "Port open failed: " + path + ": " + system_text(e));
            return false;
        }
        SetupComm(port, static_cast<DWORD>(kInBufferSize), static_cast<DWORD>(kOutBufferSize));
        apply_modem_lines();
        PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
        queued_input();
        line_errors = 0;
        in_buffer.clear();
        // Input arrives through the event pump, as the control's events do.
        read_watch = watch_handle(OsHandle{reinterpret_cast<intptr_t>(read_op.hEvent)}, HandleEvents::input,
                                  [this](HandleEvents) { read_input(); });
        write_watch = watch_handle(OsHandle{reinterpret_cast<intptr_t>(write_op.hEvent)}, HandleEvents::input,
                                   [this](HandleEvents) { collect_write(); });
        start_read();
        return true;
    }

    // Takes the result of a completed read; false while it is still pending.
    bool collect_read(size_t& received, bool& overflow);
    // Keeps a read pending, taking the bytes of reads that complete at once.
    void start_read(size_t* received = nullptr, bool* overflow = nullptr);
    void read_input();
    // Takes the result of a completed write and starts the next one.
    void collect_write();
    bool start_write(std::string bytes);
    void keep(const char* bytes, size_t n, size_t& received, bool& overflow);
};

void SerialPort::Impl::keep(const char* bytes, size_t n, size_t& received, bool& overflow) {
    const size_t room = kInBufferSize - std::min(kInBufferSize, in_buffer.size());
    const size_t kept = std::min(room, n);
    if (kept < n) overflow = true;
    in_buffer.append(bytes, kept);
    received += kept;
}

bool SerialPort::Impl::collect_read(size_t& received, bool& overflow) {
    if (!reading) return true;
    DWORD n = 0;
    if (!GetOverlappedResult(port, &read_op, &n, FALSE)) {
        const DWORD e = ::GetLastError();
        if (e == ERROR_IO_INCOMPLETE) return false;
        reading = false;
        if (e != ERROR_OPERATION_ABORTED) failed = true;
        return true;
    }
    reading = false;
    keep(read_chunk, n, received, overflow);
    return true;
}

void SerialPort::Impl::start_read(size_t* received, bool* overflow) {
    size_t ignored_count = 0;
    bool ignored_flag = false;
    if (!received) received = &ignored_count;
    if (!overflow) overflow = &ignored_flag;
    // A read that completes at once (the bytes were waiting) is taken and another started, so that one is
    // always pending while the port is open.
    for (int round = 0; round < 64 && !failed && !reading; ++round) {
        const DWORD want = std::clamp<DWORD>(queued_input(), 1, sizeof read_chunk);
        DWORD n = 0;
        if (ReadFile(port, read_chunk, want, &n, &read_op)) {
            keep(read_chunk, n, *received, *overflow);
            continue;
        }
        const DWORD e = ::GetLastError();
        if (e == ERROR_IO_PENDING) {
            reading = true;
            return;
        }
        // A line error may stop the reads until it is cleared (the next round clears it); anything else
        // means the device is gone.
        if (e != ERROR_OPERATION_ABORTED) failed = true;
    }
    if (failed) {
        // Not watched any more, so that a device that went away cannot keep the pump busy.
        ResetEvent(read_op.hEvent);
        if (read_watch) set_watch_interest(read_watch, HandleEvents::none);
    } else if (!reading) {
        // Bytes keep coming faster than they are taken: the event stays set and the pump comes back.
        SetEvent(read_op.hEvent);
    }
}

// Reads what has arrived and raises the events: line errors first, then one receive event per byte while
// the threshold is met.
void SerialPort::Impl::read_input() {
    size_t received = 0;
    bool overflow = false;
    if (!collect_read(received, overflow)) return;
    start_read(&received, &overflow);
    queued_input();
    const DWORD errors = std::exchange(line_errors, 0);
    if (errors & CE_RXOVER) overflow = true;
    const struct {
        DWORD error;
        int16_t event;
    } kinds[] = {{CE_BREAK, comEventBreak},
                       {CE_FRAME, comEventFrame},
                       {CE_OVERRUN, comEventOverrun},
                       {CE_RXPARITY, comEventRxParity}};
    for (const auto& e : kinds)
        if ((errors & e.error) && is_open()) raise(e.event);
    if (overflow && is_open()) raise(comEventRxOver);
    // A handler may close the port meanwhile.
    for (size_t i = 0; i < received && is_open(); ++i) {
        if (r_threshold <= 0 || in_buffer.size() < static_cast<size_t>(r_threshold)) break;
        raise(comEvReceive);
    }
}

void SerialPort::Impl::collect_write() {
    if (writing) {
        DWORD n = 0;
        if (!GetOverlappedResult(port, &write_op, &n, FALSE) && ::GetLastError() == ERROR_IO_INCOMPLETE) return;
        writing = false;
    }
    sending.clear();
    ResetEvent(write_op.hEvent);
    if (!queued.empty()) start_write(std::exchange(queued, {}));
}

bool SerialPort::Impl::start_write(std::string bytes) {
    sending = std::move(bytes);
    DWORD n = 0;
    if (WriteFile(port, sending.data(), static_cast<DWORD>(sending.size()), &n, &write_op)) {
        sending.clear();
        ResetEvent(write_op.hEvent);
        return true;
    }
    const DWORD e = ::GetLastError();
    if (e == ERROR_IO_PENDING) {
        writing = true;
        return true;
    }
    sending.clear();
    ResetEvent(write_op.hEvent);
    set_pending_system_error(e);
    return false;
}

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}
SerialPort::~SerialPort() { impl_->close_port(); }

detail::SerialState& SerialPort::state() const { return *impl_; }
bool SerialPort::apply_line() { return impl_->apply_line(); }
void SerialPort::apply_modem_lines() { impl_->apply_modem_lines(); }

bool SerialPort::PortOpen() const { return impl_->is_open(); }
bool SerialPort::PortOpen(bool open) {
    if (open) return impl_->open_port();
    impl_->close_port();
    return true;
}

void SerialPort::report_device_error() { set_pending_system_error(::GetLastError()); }

bool SerialPort::Output(std::string_view bytes) {
    if (!impl_->is_open()) {
        set_pending_error(comPortNotOpen, "Operation valid only when the port is open");
        return false;
    }
    if (bytes.empty()) return true;
    impl_->collect_write();
    if (!impl_->writing) return impl_->start_write(std::string(bytes));
    if (impl_->queued.size() + bytes.size() > kOutBufferSize) {
        set_pending_system_error(ERROR_IO_PENDING);
        return false;
    }
    impl_->queued.append(bytes);
    return true;
}

} // namespace ktr::platform
