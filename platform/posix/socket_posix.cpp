// The socket component on non-blocking POSIX sockets, driven by the event pump.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <span>
#include <typeinfo>

#include "platform/event_pump.h"
#include "platform/pending_error.h"
#include "platform/posix/posix_support.h"
#include "platform/socket.h"

namespace ktr::platform {
namespace detail {

// A listening or bound descriptor with the objects that hold it. It outlives its last holder by the grace
// time so a successor takes over the kernel's queue (datagrams, pending connections) intact.
struct SharedPort : std::enable_shared_from_this<SharedPort> {
    bool tcp = true;
    uint16_t port = 0;
    int fd = -1;
    int watch = 0;
    std::vector<Socket*> holders;  // in the order they took the port; events go to the last
    Timer grace;

    ~SharedPort() {
        if (watch) unwatch(watch);
        if (fd >= 0) ::close(fd);
    }
    void on_ready();
    void accept_connections();
    void receive_datagrams();
    void update_interest() { set_watch_interest(watch, holders.empty() ? HandleEvents::none : HandleEvents::input); }
};

} // namespace detail

namespace {

using detail::SharedPort;

// Ports held by objects or waiting out their grace time, by (tcp, port).
std::map<std::pair<bool, uint16_t>, std::shared_ptr<SharedPort>>& port_table() {
    static auto* table = new std::map<std::pair<bool, uint16_t>, std::shared_ptr<SharedPort>>;  // never destroyed
    return *table;
}

struct PendingConnection {
    int fd = -1;
    std::string ip;
    int32_t remote_port = 0;
    int32_t local_port = 0;
};
std::map<int32_t, PendingConnection>& pending_connections() {
    static auto* pending = new std::map<int32_t, PendingConnection>;  // never destroyed
    return *pending;
}
int32_t g_next_request = 1;

int32_t port_of(const sockaddr_storage& addr) {
    if (addr.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
    if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
    return 0;
}

std::string address_text(const sockaddr_storage& addr) {
    char buf[INET6_ADDRSTRLEN] = "";
    if (addr.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(addr).sin_addr, buf, sizeof buf);
    else if (addr.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr, buf, sizeof buf);
    return buf;
}

void fail(int32_t number, const char* description) { set_pending_error(number, description); }

void fail_errno(int err) {
    if (err == EADDRINUSE)
        fail(kErrAddressInUse, "Address in use");
    else if (err == ECONNRESET || err == EPIPE)
        fail(kErrConnectionReset, "Connection is reset by remote side");
    else
        set_pending_error_from_errno(err);
}

void wrong_state() { fail(kErrInvalidOperation, "Wrong protocol or connection state for the requested transaction or request"); }

std::shared_ptr<Socket> keep_alive(Socket* s) { return s->weak_from_this().lock(); }

// The text of a sender's address. The last one is kept: a console or a client sends again and again.
const std::string& sender_text(const sockaddr_storage& addr) {
    static sockaddr_storage last{};
    static std::string text;
    bool same = addr.ss_family == last.ss_family;
    if (same && addr.ss_family == AF_INET)
        same = std::memcmp(&reinterpret_cast<const sockaddr_in&>(addr).sin_addr,
                           &reinterpret_cast<const sockaddr_in&>(last).sin_addr, sizeof(in_addr)) == 0;
    else if (same && addr.ss_family == AF_INET6)
        same = std::memcmp(&reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr,
                           &reinterpret_cast<const sockaddr_in6&>(last).sin6_addr, sizeof(in6_addr)) == 0;
    if (!same) {
        last = addr;
        text = address_text(addr);
    }
    return text;
}

using MemberMap = std::map<int16_t, std::shared_ptr<Socket>>;
constexpr size_t kMostSpareMembers = 4;

// Unloaded members with their map entries, kept for the next Load: a UDP listener renews its member after
// every request, and taking up an old member (with the room of its buffers) allocates nothing. Never destroyed,
// like the port table.
std::vector<MemberMap::node_type>& spare_members() {
    static auto* spares = [] {
        auto* v = new std::vector<MemberMap::node_type>;
        v->reserve(kMostSpareMembers);
        return v;
    }();
    return *spares;
}

} // namespace

namespace detail {

void SharedPort::on_ready() {
    auto self = shared_from_this();  // a handler may close the last holder
    if (tcp)
        accept_connections();
    else
        receive_datagrams();
}

void SharedPort::accept_connections() {
    for (int round = 0; round < 16 && !holders.empty(); ++round) {
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        const int cfd = accept4(fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (cfd < 0) return;  // nothing more queued (or a transient failure: the next round retries)
        const int32_t id = g_next_request++;
        if (g_next_request <= 0) g_next_request = 1;
        const std::string& ip = sender_text(peer);
        pending_connections()[id] = PendingConnection{cfd, ip, port_of(peer), port};
        Socket* h = holders.back();
        auto keep = keep_alive(h);
        h->remote_ip_ = ip;
        if (h->events_) h->events_->ConnectionRequest(h->index_, id);
        // A request nobody accepted is refused.
        const auto it = pending_connections().find(id);
        if (it != pending_connections().end()) {
            ::close(it->second.fd);
            pending_connections().erase(it);
        }
    }
}

void SharedPort::receive_datagrams() {
    // Room for the largest datagram, left uninitialised: only the pages datagrams fill become resident.
    static const auto storage = std::make_unique_for_overwrite<uint8_t[]>(65536);
    const std::span<uint8_t> buf(storage.get(), 65536);
    for (int round = 0; round < 64 && !holders.empty(); ++round) {
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        const ssize_t n = recvfrom(fd, buf.data(), buf.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&peer), &len);
        if (n < 0) return;  // queue empty (ICMP errors of earlier sends also land here and are dropped)
        const size_t got = std::min(static_cast<size_t>(n), buf.size());
        Socket* h = holders.back();
        auto keep = keep_alive(h);
        // Filled in place: the member's buffers keep their room from datagram to datagram.
        h->reply_addr_.assign(reinterpret_cast<uint8_t*>(&peer), reinterpret_cast<uint8_t*>(&peer) + len);
        h->rx_.assign(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(got));
        h->remote_ip_ = sender_text(peer);
        h->deliver_datagram();
    }
}

} // namespace detail

Socket::Socket(SocketEvents* events, int16_t index) : events_(events), index_(index) {}

Socket::~Socket() {
    if (conn_watch_) unwatch(conn_watch_);
    if (conn_.valid()) ::close(fd_of(conn_));
    release_port();
}

int32_t Socket::BoundPort() const {
    if (!port_) return 0;
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(port_->fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(reinterpret_cast<sockaddr_in&>(addr).sin_port);
}

bool Socket::hold_port(bool tcp) {
    // Ports are 16-bit: a negative 16-bit option value still names the port above 32767.
    const uint16_t port = static_cast<uint16_t>(local_port_ & 0xFFFF);
    auto& table = port_table();
    if (port != 0) {
        const auto it = table.find({tcp, port});
        if (it != table.end()) {
            port_ = it->second;
            port_->grace.Enabled(false);
            port_->holders.push_back(this);
            port_->update_interest();
            return true;
        }
    }
    const int fd = socket(AF_INET, (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail_errno(errno);
        return false;
    }
    if (!tcp) {
        const int size = 1 << 20;  // room for bursts of requests (the kernel caps it at its limit)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    if (tcp) {
        const int one = 1;  // a restart may bind while old connections linger in TIME_WAIT
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (!bind_address_.empty() && inet_pton(AF_INET, bind_address_.c_str(), &addr.sin_addr) != 1) {
        ::close(fd);
        fail_errno(EADDRNOTAVAIL);
        return false;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || (tcp && ::listen(fd, SOMAXCONN) != 0)) {
        const int err = errno;
        ::close(fd);
        fail_errno(err);
        return false;
    }
    auto shared = std::make_shared<SharedPort>();
    shared->tcp = tcp;
    shared->fd = fd;
    std::weak_ptr<SharedPort> weak = shared;
    shared->watch = watch_handle(handle_of(fd), HandleEvents::input, [weak](HandleEvents) {
        if (auto p = weak.lock()) p->on_ready();
    });
    shared->grace.Interval(kPortGraceMs);
    const bool tcp_key = tcp;
    shared->grace.on_timer([weak, tcp_key] {
        auto p = weak.lock();
        if (!p || !p->holders.empty()) return;
        p->grace.Enabled(false);
        port_table().erase({tcp_key, p->port});  // the last reference: the descriptor closes
    });
    shared->holders.push_back(this);
    port_ = shared;
    shared->port = static_cast<uint16_t>(BoundPort());
    table[{tcp, shared->port}] = shared;
    return true;
}

void Socket::release_port() {
    if (!port_) return;
    auto& h = port_->holders;
    h.erase(std::remove(h.begin(), h.end(), this), h.end());
    if (h.empty()) port_->grace.Enabled(true);
    port_->update_interest();
    port_.reset();
}

bool Socket::Listen() {
    if (protocol_ != kTcpProtocol || state_ != kStateClosed) {
        wrong_state();
        return false;
    }
    if (!hold_port(true)) return false;
    state_ = kStateListening;
    return true;
}

bool Socket::Bind() {
    if (protocol_ != kUdpProtocol || state_ != kStateClosed) {
        wrong_state();
        return false;
    }
    if (!hold_port(false)) return false;
    state_ = kStateOpen;
    return true;
}

bool Socket::Accept(int32_t request_id) {
    const auto it = pending_connections().find(request_id);
    if (protocol_ != kTcpProtocol || it == pending_connections().end()) {
        wrong_state();
        return false;
    }
    if (state_ != kStateClosed) Close();
    conn_ = handle_of(it->second.fd);
    send_pending_ = false;
    bytes_sent_ = 0;
    remote_ip_ = it->second.ip;
    remote_port_ = it->second.remote_port;
    local_port_ = it->second.local_port;
    pending_connections().erase(it);
    rx_.clear();
    tx_.clear();
    state_ = kStateConnected;
    std::weak_ptr<Socket> weak = weak_from_this();
    conn_watch_ = watch_handle(conn_, HandleEvents::input, [this, weak](HandleEvents ready) {
        auto keep = weak.lock();  // the object may be destroyed by its own event
        on_connection(ready);
    });
    return true;
}

bool Socket::Close() {
    if (conn_watch_) unwatch(conn_watch_);
    conn_watch_ = 0;
    if (conn_.valid()) ::close(fd_of(conn_));
    conn_ = kNoHandle;
    release_port();
    rx_.clear();
    tx_.clear();
    send_pending_ = false;
    have_datagram_ = false;
    reply_addr_.clear();
    state_ = kStateClosed;
    return true;
}

void Socket::raise_error(int16_t number, const std::string& description) {
    state_ = kStateError;
    rearm();
    bool cancel = false;
    if (events_) events_->Error(index_, number, description, 0, "Socket", "", 0, cancel);
}

void Socket::on_connection(HandleEvents ready) {
    if (any_of(ready, HandleEvents::output) && send_pending_) {
        // The send events are raised from the pump, never in the middle of the sender's step.
        flush_output();
        const int16_t index = index_;
        if (!tx_.empty()) {
            if (events_) events_->SendProgress(index, bytes_sent_, static_cast<int32_t>(tx_.size()));
        } else {
            send_pending_ = false;
            bytes_sent_ = 0;
            rearm();
            if (events_) events_->SendComplete(index);
        }
    }
    if (!conn_.valid() || state_ != kStateConnected || !any_of(ready, HandleEvents::input | HandleEvents::closed))
        return;
    bool ended = false;
    int err = 0;
    const size_t before = rx_.size();
    uint8_t buf[65536];
    while (rx_.size() < kMaxUnreadBytes) {
        const ssize_t n = ::read(fd_of(conn_), buf, sizeof buf);
        if (n > 0) {
            rx_.insert(rx_.end(), buf, buf + n);
            continue;
        }
        if (n == 0) ended = true;
        else if (errno == ECONNRESET || errno == EPIPE) ended = true;  // a reset ends the connection as a close does
        else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) err = errno;
        break;
    }
    const int16_t index = index_;
    // Unread data beyond the limit waits in the kernel until the owner fetches what it has.
    rearm();
    if (rx_.size() > before && events_) events_->DataArrival(index, static_cast<int32_t>(rx_.size()));
    if (!conn_.valid() || state_ != kStateConnected) return;  // closed by the data handler
    if (ended) {
        state_ = kStatePeerClosing;
        rearm();
        if (events_) events_->Close(index);
    } else if (err) {
        raise_error(static_cast<int16_t>(err), std::strerror(err));
    }
}

bool Socket::send_bytes(const uint8_t* data, size_t size) {
    if (protocol_ == kUdpProtocol) {
        if (!port_ && !hold_port(false)) return false;  // an unbound object sends from any free port
        if (state_ == kStateClosed) state_ = kStateOpen;
        sockaddr_storage dest{};
        socklen_t dest_len = 0;
        if (!reply_addr_.empty()) {
            // A reply goes to the sender of the datagram this object received.
            std::memcpy(&dest, reply_addr_.data(), reply_addr_.size());
            dest_len = static_cast<socklen_t>(reply_addr_.size());
        } else {
            addrinfo hints{};
            hints.ai_family = AF_INET;
            hints.ai_socktype = SOCK_DGRAM;
            addrinfo* res = nullptr;
            const std::string service = std::to_string(remote_port_ & 0xFFFF);
            if (getaddrinfo(remote_host_.c_str(), service.c_str(), &hints, &res) != 0 || !res) {
                fail(kErrHostNotFound, "Authoritative answer: Host not found");
                return false;
            }
            std::memcpy(&dest, res->ai_addr, res->ai_addrlen);
            dest_len = res->ai_addrlen;
            freeaddrinfo(res);
        }
        if (sendto(port_->fd, data, size, 0, reinterpret_cast<sockaddr*>(&dest), dest_len) < 0) {
            fail_errno(errno);
            return false;
        }
        return true;
    }
    if (!conn_.valid() || state_ != kStateConnected) {
        fail(kErrNotConnected, "Socket is not connected");
        return false;
    }
    tx_.insert(tx_.end(), data, data + size);
    flush_output();
    send_pending_ = true;
    rearm();
    return true;
}

void Socket::flush_output() {
    size_t sent = 0;
    while (conn_.valid() && sent < tx_.size()) {
        const ssize_t n = ::send(fd_of(conn_), tx_.data() + sent, tx_.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    tx_.erase(tx_.begin(), tx_.begin() + static_cast<std::ptrdiff_t>(sent));
    bytes_sent_ += static_cast<int32_t>(sent);
}

void Socket::rearm() {
    if (!conn_watch_) return;
    HandleEvents interest = HandleEvents::none;
    if (state_ == kStateConnected) {
        if (rx_.size() < kMaxUnreadBytes) interest = interest | HandleEvents::input;
        if (send_pending_) interest = interest | HandleEvents::output;
    }
    set_watch_interest(conn_watch_, interest);
}

bool Socket::SendData(std::string_view text) {
    return send_bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool Socket::SendData(const std::vector<uint8_t>& bytes) { return send_bytes(bytes.data(), bytes.size()); }

void Socket::deliver_datagram() {
    have_datagram_ = true;
    const int32_t size = static_cast<int32_t>(rx_.size());
    if (events_) events_->DataArrival(index_, size);
    // A datagram left unread is dropped: the next one gets its own event.
    have_datagram_ = false;
    rx_.clear();
}

bool Socket::GetData(std::vector<uint8_t>& bytes) {
    // Swapped rather than moved: the caller's old buffer becomes this object's, so neither side allocates
    // again for the next datagram.
    bytes.swap(rx_);
    rx_.clear();
    have_datagram_ = false;
    rearm();
    return true;
}

bool Socket::GetData(std::string& text) {
    text.assign(rx_.begin(), rx_.end());
    rx_.clear();
    have_datagram_ = false;
    rearm();
    return true;
}

void Socket::reuse(SocketEvents* events, int16_t index) {
    Close();
    events_ = events;
    index_ = index;
    protocol_ = kTcpProtocol;
    local_port_ = 0;
    bind_address_.clear();
    remote_host_.clear();
    remote_port_ = 0;
    remote_ip_.clear();
    bytes_sent_ = 0;
}

SocketArray::SocketArray(SocketEvents* events) : events_(events) { members_[0] = std::make_shared<Socket>(events, 0); }

SocketArray::~SocketArray() {
    for (auto& [i, m] : members_) m->Close();
}

bool SocketArray::Load(int16_t index) {
    if (index < 0 || members_.count(index)) {
        fail(360, "Object already loaded");
        return false;
    }
    auto& spares = spare_members();
    // Only an old member nothing else holds: one unloaded inside its own event lives until that event ends.
    const auto spare = std::find_if(spares.begin(), spares.end(),
                                    [](const MemberMap::node_type& n) { return n.mapped().use_count() == 1; });
    if (spare == spares.end()) {
        members_[index] = std::make_shared<Socket>(events_, index);
        return true;
    }
    MemberMap::node_type node = std::move(*spare);
    spares.erase(spare);
    node.key() = index;
    node.mapped()->reuse(events_, index);
    members_.insert(std::move(node));
    return true;
}

bool SocketArray::Unload(int16_t index) {
    const auto it = members_.find(index);
    if (index == 0 || it == members_.end()) {
        fail(340, "Control array element does not exist");
        return false;
    }
    it->second->Close();
    MemberMap::node_type node = members_.extract(it);
    // A stand-in that a test put in place is not taken up as a later member.
    auto& spares = spare_members();
    const Socket& member = *node.mapped();
    if (spares.size() < kMostSpareMembers && typeid(member) == typeid(Socket)) spares.push_back(std::move(node));
    return true;
}

Socket* SocketArray::operator()(int16_t index) const {
    const auto it = members_.find(index);
    return it == members_.end() ? nullptr : it->second.get();
}

std::vector<int16_t> SocketArray::indexes() const {
    std::vector<int16_t> out;
    for (const auto& [i, m] : members_) out.push_back(i);
    return out;
}

void SocketArray::replace(int16_t index, std::shared_ptr<Socket> member) { members_[index] = std::move(member); }

} // namespace ktr::platform
