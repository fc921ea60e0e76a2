// On Windows there is no systemd to stand in for: the bus is never ready, so the tests that talk to the
// stand-in skip with the reason, and no queued signals exist to record.
#include "fakes/fake_systemd_bus.h"

namespace ktr::testing {

FakeSystemdBus::FakeSystemdBus(bool) : error_("no systemd on Windows: the service manager there is the NT one") {}

void FakeSystemdBus::set_unit(const std::string&, const std::map<std::string, std::string>&) const {}

std::vector<std::string> FakeSystemdBus::calls() const { return {}; }

std::vector<std::string> FakeSystemdBus::actions() const { return {}; }

SignalRecorder::SignalRecorder(std::function<void(int)>) {}

SignalRecorder::~SignalRecorder() = default;

std::optional<int> SignalRecorder::next(int) { return std::nullopt; }

} // namespace ktr::testing
