// The socket component's logic, the same on every system: the port table, the pending connections, the
// state and events of an object, and the indexed array. The backends supply the system's steps.
#include "platform/socket.h"

#include <algorithm>
#include <map>
#include <memory>
#include <typeinfo>

#include "platform/event_pump.h"
#include "platform/pending_error.h"
#include "platform/socket_port.h"

namespace ktr::platform {
namespace {

using detail::Peer;
using detail::SharedPort;

// Ports held by objects or waiting out their grace time, by (tcp, port).
std::map<std::pair<bool, uint16_t>, std::shared_ptr<SharedPort>>& port_table() {
    static auto* table = new std::map<std::pair<bool, uint16_t>, std::shared_ptr<SharedPort>>;  // never destroyed
    return *table;
}

struct PendingConnection {
    OsHandle connection;
    std::string ip;
    int32_t remote_port = 0;
    int32_t local_port = 0;
};
std::map<int32_t, PendingConnection>& pending_connections() {
    static auto* pending = new std::map<int32_t, PendingConnection>;  // never destroyed
    return *pending;
}
int32_t g_next_request = 1;

void fail(int32_t number, const char* description) { set_pending_error(number, description); }

void wrong_state() { fail(kErrInvalidOperation, "Wrong protocol or connection state for the requested transaction or request"); }

std::shared_ptr<Socket> keep_alive(Socket* s) { return s->weak_from_this().lock(); }

// The text of a sender's address. The last one is kept: a console or a client sends again and again.
const std::string& sender_text(const Peer& peer) {
    static Peer last{};
    static std::string text;
    if (peer.ipv4 != last.ipv4 || peer.host != last.host) {
        last = peer;
        text.clear();
        if (peer.ipv4)
            for (size_t i = 0; i < peer.host.size(); ++i) {
                if (i) text += '.';
                text += std::to_string(peer.host[i]);
            }
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

void fail_address_in_use() { fail(kErrAddressInUse, "Address in use"); }

void fail_connection_reset() { fail(kErrConnectionReset, "Connection is reset by remote side"); }

SharedPort::~SharedPort() {
    if (watch) unwatch(watch);
    if (handle.valid()) close_socket_handle(handle);
}

void SharedPort::on_ready() {
    auto self = shared_from_this();  // a handler may close the last holder
    if (tcp)
        accept_connections();
    else
        receive_datagrams();
}

void SharedPort::offer_connection(OsHandle connection, const Peer& peer) {
    const int32_t id = g_next_request++;
    if (g_next_request <= 0) g_next_request = 1;
    const std::string& ip = sender_text(peer);
    pending_connections()[id] = PendingConnection{connection, ip, peer.port, port};
    Socket* h = holders.back();
    auto keep = keep_alive(h);
    h->remote_ip_ = ip;
    if (h->events_) h->events_->ConnectionRequest(h->index_, id);
    // A request nobody accepted is refused.
    const auto it = pending_connections().find(id);
    if (it != pending_connections().end()) {
        close_socket_handle(it->second.connection);
        pending_connections().erase(it);
    }
}

uint8_t* SharedPort::receive_room() {
    // Room for the largest datagram, left uninitialised: only the pages datagrams fill become resident.
    static const auto storage = std::make_unique_for_overwrite<uint8_t[]>(kReceiveRoom);
    return storage.get();
}

void SharedPort::offer_datagram(size_t size, const uint8_t* from, size_t from_size, const Peer& peer) {
    const uint8_t* data = receive_room();
    Socket* h = holders.back();
    auto keep = keep_alive(h);
    // Filled in place: the member's buffers keep their room from datagram to datagram.
    h->reply_addr_.assign(from, from + from_size);
    h->rx_.assign(data, data + size);
    h->remote_ip_ = sender_text(peer);
    h->deliver_datagram();
}

} // namespace detail

Socket::Socket(SocketEvents* events, int16_t index) : events_(events), index_(index) {}

Socket::~Socket() {
    if (conn_watch_) unwatch(conn_watch_);
    if (conn_.valid()) detail::close_socket_handle(conn_);
    release_port();
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
    uint16_t bound_port = 0;
    const OsHandle handle = open_port(tcp, port, bound_port);
    if (!handle.valid()) return false;
    auto shared = std::make_shared<SharedPort>();
    shared->tcp = tcp;
    shared->port = bound_port;
    shared->handle = handle;
    std::weak_ptr<SharedPort> weak = shared;
    shared->watch = watch_handle(handle, HandleEvents::input, [weak](HandleEvents) {
        if (auto p = weak.lock()) p->on_ready();
    });
    shared->grace.Interval(kPortGraceMs);
    const bool tcp_key = tcp;
    shared->grace.on_timer([weak, tcp_key] {
        auto p = weak.lock();
        if (!p || !p->holders.empty()) return;
        p->grace.Enabled(false);
        port_table().erase({tcp_key, p->port});  // the last reference: the socket closes
    });
    shared->holders.push_back(this);
    port_ = shared;
    table[{tcp, shared->port}] = shared;
    return true;
}

// The port is the system's answer when the object took it, and a bound socket keeps its port.
int32_t Socket::BoundPort() const { return port_ ? port_->port : 0; }

void Socket::release_port() {
    if (!port_) return;
    auto& h = port_->holders;
    h.erase(std::remove(h.begin(), h.end(), this), h.end());
    if (h.empty()) port_->grace.Enabled(true);
    port_->update_interest();
    port_.reset();
}

bool Socket::Listen() { return take_port(kTcpProtocol, kStateListening); }

bool Socket::Bind() { return take_port(kUdpProtocol, kStateOpen); }

bool Socket::take_port(int16_t protocol, int16_t state) {
    if (protocol_ != protocol || state_ != kStateClosed) {
        wrong_state();
        return false;
    }
    if (!hold_port(protocol == kTcpProtocol)) return false;
    state_ = state;
    return true;
}

bool Socket::Accept(int32_t request_id) {
    const auto it = pending_connections().find(request_id);
    if (protocol_ != kTcpProtocol || it == pending_connections().end()) {
        wrong_state();
        return false;
    }
    if (state_ != kStateClosed) Close();
    conn_ = it->second.connection;
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
    if (conn_.valid()) detail::close_socket_handle(conn_);
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
    const size_t before = rx_.size();
    const int err = read_input(ended);
    const int16_t index = index_;
    // Unread data beyond the limit waits in the system until the owner fetches what it has.
    rearm();
    if (rx_.size() > before && events_) events_->DataArrival(index, static_cast<int32_t>(rx_.size()));
    if (!conn_.valid() || state_ != kStateConnected) return;  // closed by the data handler
    if (ended) {
        state_ = kStatePeerClosing;
        rearm();
        if (events_) events_->Close(index);
    } else if (err) {
        raise_error(static_cast<int16_t>(err), error_text(err));
    }
}

bool Socket::send_bytes(const uint8_t* data, size_t size) {
    if (protocol_ == kUdpProtocol) {
        if (!port_ && !hold_port(false)) return false;  // an unbound object sends from any free port
        if (state_ == kStateClosed) state_ = kStateOpen;
        // A reply goes to the sender of the datagram this object received.
        if (!reply_addr_.empty()) return send_datagram(data, size, reply_addr_);
        std::vector<uint8_t> to;
        if (!find_remote(to)) {
            fail(kErrHostNotFound, "Authoritative answer: Host not found");
            return false;
        }
        return send_datagram(data, size, to);
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
