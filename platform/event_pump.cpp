// The pump's bookkeeping shared by every backend: the watch table, the timers on the clock's tick counter
// and the dispatch of one round. The backend only waits for the handles.
#include "platform/event_pump.h"

#include <algorithm>
#include <map>
#include <vector>

#include "platform/backend.h"
#include "platform/clock.h"

namespace ktr::platform {
namespace {

struct Watch {
    OsHandle handle;
    HandleEvents interest = HandleEvents::none;
    bool in_dispatch = false;
    std::shared_ptr<std::function<void(HandleEvents)>> handler;
};

// The handles of one round and their watch ids. Kept from round to round (one set per nesting level of
// the pump), so that a busy pump allocates nothing.
struct RoundBuffers {
    std::vector<backend::HandleWait> waits;
    std::vector<int> ids;
};

struct PumpState {
    std::map<int, Watch> watches;
    std::vector<std::unique_ptr<RoundBuffers>> rounds;  // by nesting depth
    size_t depth = 0;
    int next_watch = 1;
    std::map<uint64_t, Timer*> timers;  // by registration number, so a timer freed in a handler is skipped
    std::map<Timer*, uint64_t> timer_ids;
    uint64_t next_timer = 1;
    std::function<int(int)> pause_hook;
};

// Never destroyed: timers and sockets of other static objects may still end after main returns.
PumpState& state() {
    static PumpState* s = new PumpState;
    return *s;
}

// Milliseconds until the first running timer that is not being dispatched falls due; -1 when none runs.
int next_timer_wait(int32_t now) {
    int best = -1;
    for (const auto& [id, t] : state().timers) {
        if (!t->running()) continue;
        const int32_t due = std::max<int32_t>(0, t->due_in(now));
        if (best < 0 || due < best) best = due;
    }
    return best;
}

// The handles a round waits for: every watch that asks for something and is not being dispatched.
void round_handles(std::vector<backend::HandleWait>& waits, std::vector<int>& ids) {
    waits.clear();
    ids.clear();
    for (const auto& [id, w] : state().watches) {
        if (w.in_dispatch || w.interest == HandleEvents::none) continue;
        waits.push_back(backend::HandleWait{w.handle, w.interest, HandleEvents::none});
        ids.push_back(id);
    }
}

// The buffers of the round at the current nesting depth, for as long as the round lasts.
class RoundScope {
public:
    RoundScope() {
        PumpState& s = state();
        if (s.rounds.size() <= s.depth) s.rounds.push_back(std::make_unique<RoundBuffers>());
        buffers_ = s.rounds[s.depth++].get();
    }
    ~RoundScope() { --state().depth; }
    RoundScope(const RoundScope&) = delete;
    RoundScope& operator=(const RoundScope&) = delete;
    RoundBuffers& operator*() const { return *buffers_; }

private:
    RoundBuffers* buffers_;
};

// Blocks for the round: through the backend, or (tests) through the pause hook.
int wait_round(std::vector<backend::HandleWait>& waits, int wait_ms) {
    PumpState& s = state();
    if (!s.pause_hook) return backend::wait_for_handles(waits, wait_ms);
    int ready = backend::wait_for_handles(waits, 0);
    if (ready <= 0 && wait_ms > 0) {
        auto hook = s.pause_hook;
        const int real_ms = hook(wait_ms);
        if (real_ms > 0) ready = backend::wait_for_handles(waits, real_ms);
    }
    return ready;
}

int dispatch_handles(const std::vector<backend::HandleWait>& waits, const std::vector<int>& ids) {
    PumpState& s = state();
    int ran = 0;
    for (size_t i = 0; i < waits.size(); ++i) {
        if (waits[i].ready == HandleEvents::none) continue;
        const auto it = s.watches.find(ids[i]);
        if (it == s.watches.end() || it->second.in_dispatch || it->second.handle != waits[i].handle) continue;
        auto handler = it->second.handler;  // lives on even if the handler ends its own watch
        it->second.in_dispatch = true;
        (*handler)(waits[i].ready);
        ++ran;
        const auto again = s.watches.find(ids[i]);
        if (again != s.watches.end()) again->second.in_dispatch = false;
    }
    return ran;
}

int fire_due_timers() {
    PumpState& s = state();
    const int32_t now = clock().tick_count();
    std::vector<uint64_t> due;
    for (const auto& [id, t] : s.timers)
        if (t->running() && t->due_in(now) <= 0) due.push_back(id);
    int ran = 0;
    for (const uint64_t id : due) {
        const auto it = s.timers.find(id);
        if (it == s.timers.end()) continue;
        it->second->fire(clock().tick_count());
        ++ran;
    }
    return ran;
}

} // namespace

int watch_handle(OsHandle handle, HandleEvents interest, std::function<void(HandleEvents)> handler) {
    PumpState& s = state();
    const int id = s.next_watch++;
    if (s.next_watch <= 0) s.next_watch = 1;
    Watch w;
    w.handle = handle;
    w.interest = interest;
    w.handler = std::make_shared<std::function<void(HandleEvents)>>(std::move(handler));
    s.watches[id] = std::move(w);
    return id;
}

void set_watch_interest(int watch_id, HandleEvents interest) {
    const auto it = state().watches.find(watch_id);
    if (it != state().watches.end()) it->second.interest = interest;
}

void unwatch(int watch_id) { state().watches.erase(watch_id); }

void set_pause_hook(std::function<int(int)> hook) { state().pause_hook = std::move(hook); }

int pump_events(int max_wait_ms) {
    const RoundScope round;
    auto& [waits, ids] = *round;
    round_handles(waits, ids);
    int wait = std::max(0, max_wait_ms);
    const int timer_wait = next_timer_wait(clock().tick_count());
    if (timer_wait >= 0) wait = std::min(wait, timer_wait);
    const int ready = wait_round(waits, wait);
    const int ran = ready > 0 ? dispatch_handles(waits, ids) : 0;
    return ran + fire_due_timers();
}

Timer::Timer() {
    PumpState& s = state();
    const uint64_t id = s.next_timer++;
    s.timers[id] = this;
    s.timer_ids[this] = id;
}

Timer::~Timer() {
    PumpState& s = state();
    const auto it = s.timer_ids.find(this);
    if (it == s.timer_ids.end()) return;
    s.timers.erase(it->second);
    s.timer_ids.erase(it);
}

void Timer::Interval(int32_t ms) {
    interval_ = ms;
    start_ = clock().tick_count();
}

void Timer::Enabled(bool on) {
    if (on && !enabled_) start_ = clock().tick_count();
    enabled_ = on;
}

int32_t Timer::due_in(int32_t now) const {
    if (in_dispatch_) return interval_;  // not again from a nested pump
    const int32_t elapsed = static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(start_));
    return interval_ - elapsed;
}

void Timer::fire(int32_t now) {
    if (in_dispatch_) return;
    start_ = now;
    if (!handler_) return;
    auto handler = handler_;  // the handler may replace itself or free the timer
    const uint64_t id = state().timer_ids.count(this) ? state().timer_ids[this] : 0;
    in_dispatch_ = true;
    handler();
    if (state().timers.count(id)) in_dispatch_ = false;
}

} // namespace ktr::platform
