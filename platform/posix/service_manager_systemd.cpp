// The service manager on Linux: systemd, reached over the system bus with sd-bus (DBUS_SYSTEM_BUS_ADDRESS
// points it elsewhere). A service "X" is the unit "X.service".
//
// Pause, continue and the user codes reach the running service by one channel: the unit's main process is
// sent a queued SIGRTMIN whose value is the code (2 pause, 3 continue, 128..255 the user codes). The
// kernel decides who may send it, so a caller without the right gets a failure, never a false success.
// The service reports its pause in its status text (sd_notify "STATUS=Paused..."), which is how a query
// tells "Paused" from "Running": systemd itself has no paused state.
//
// Create writes the unit file into KTRSVC_UNIT_DIR (default /etc/systemd/system), reloads the manager
// and enables the unit; delete disables it, removes the file and reloads.
//
// libsystemd is opened only while a manager is in use and closed with the last of its objects: a process
// that never asks (the service itself) or asks now and then (a desktop instance) does not keep it, and the
// libraries it brings in, resident for nothing: well over a megabyte.
#include <dlfcn.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "platform/pending_error.h"
#include "platform/service_manager.h"

namespace ktr::platform {
namespace {

constexpr const char* kDestination = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
constexpr const char* kServiceInterface = "org.freedesktop.systemd1.Service";
constexpr uint64_t kCallTimeoutUsec = 20'000'000;  // a manager busy reloading answers late, not never
constexpr int32_t kControlPause = 2;
constexpr int32_t kControlContinue = 3;

int32_t fail(int err, const std::string& what) {
    if (err <= 0) err = EIO;
    set_pending_error(err, what + ": " + std::strerror(err));
    return err;
}

// The sd-bus calls, from the library opened for as long as this object lives.
struct SdBus {
    void* library = nullptr;
    decltype(&::sd_bus_open_system) open_system = nullptr;
    decltype(&::sd_bus_flush_close_unref) flush_close_unref = nullptr;
    decltype(&::sd_bus_set_method_call_timeout) set_method_call_timeout = nullptr;
    decltype(&::sd_bus_call_method) call_method = nullptr;
    decltype(&::sd_bus_message_read) message_read = nullptr;
    decltype(&::sd_bus_get_property_string) get_property_string = nullptr;
    decltype(&::sd_bus_get_property_trivial) get_property_trivial = nullptr;
    decltype(&::sd_bus_error_free) error_free = nullptr;
    decltype(&::sd_bus_error_is_set) error_is_set = nullptr;
    decltype(&::sd_bus_message_unref) message_unref = nullptr;

    SdBus() = default;
    SdBus(const SdBus&) = delete;
    SdBus& operator=(const SdBus&) = delete;
    ~SdBus() {
        if (library) ::dlclose(library);
    }
};

template <class F> bool find(void* library, const char* name, F& out) {
    out = reinterpret_cast<F>(::dlsym(library, name));
    return out != nullptr;
}

// The library while a manager is in use; nothing (pending error filled) when it cannot be had.
std::shared_ptr<const SdBus> open_sd_bus() {
    static std::weak_ptr<const SdBus> current;
    if (auto api = current.lock()) return api;
    auto api = std::make_shared<SdBus>();
    api->library = ::dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    const bool ok = api->library && find(api->library, "sd_bus_open_system", api->open_system) &&
                    find(api->library, "sd_bus_flush_close_unref", api->flush_close_unref) &&
                    find(api->library, "sd_bus_set_method_call_timeout", api->set_method_call_timeout) &&
                    find(api->library, "sd_bus_call_method", api->call_method) &&
                    find(api->library, "sd_bus_message_read", api->message_read) &&
                    find(api->library, "sd_bus_get_property_string", api->get_property_string) &&
                    find(api->library, "sd_bus_get_property_trivial", api->get_property_trivial) &&
                    find(api->library, "sd_bus_error_free", api->error_free) &&
                    find(api->library, "sd_bus_error_is_set", api->error_is_set) &&
                    find(api->library, "sd_bus_message_unref", api->message_unref);
    if (!ok) {
        const char* why = ::dlerror();
        fail(ELIBACC, std::string("load libsystemd") + (why ? " (" + std::string(why) + ")" : ""));
        return nullptr;
    }
    current = api;
    return api;
}

// One bus call's error and reply, released on every path.
struct Call {
    explicit Call(const SdBus& api) : sd(api) {}
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    const SdBus& sd;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    ~Call() {
        sd.error_free(&error);
        sd.message_unref(reply);
    }
    int32_t failed(int r, const std::string& what) {
        const std::string detail = sd.error_is_set(&error) ? what + " (" + error.message + ")" : what;
        return fail(-r, detail);
    }
};

std::string unit_name(std::string_view service) {
    std::string unit(service);
    if (!unit.ends_with(".service")) unit += ".service";
    return unit;
}

// Names systemd accepts for a unit; anything else (a path, blanks) is refused before the file is written.
bool valid_unit_name(const std::string& unit) {
    if (unit.size() <= 8 || unit.size() > 255) return false;
    for (const char c : unit)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr(":-_.\\@", c))) return false;
    return true;
}

std::string unit_dir() {
    const char* dir = std::getenv("KTRSVC_UNIT_DIR");
    return dir && *dir ? dir : "/etc/systemd/system";
}

// ExecStart's quoting: one double-quoted word, with systemd's specifiers and variables kept literal.
std::string quoted_command(std::string_view path) {
    std::string out = "\"";
    for (const char c : path) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '%' || c == '$') out += c;
        out += c;
    }
    return out + "\"";
}

class Bus {
public:
    Bus(std::shared_ptr<const SdBus> api, sd_bus* bus) : api_(std::move(api)), bus_(bus) {}
    ~Bus() { api_->flush_close_unref(bus_); }
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;
    sd_bus* get() const { return bus_; }
    const SdBus& sd() const { return *api_; }

private:
    std::shared_ptr<const SdBus> api_;
    sd_bus* bus_;
};

class SystemdService final : public ServiceHandle {
public:
    SystemdService(std::shared_ptr<Bus> bus, std::string unit, std::string path)
        : bus_(std::move(bus)), unit_(std::move(unit)), path_(std::move(path)) {}

    int32_t query_state(uint32_t& state) override {
        std::string active;
        if (const int32_t err = property(kUnitInterface, "ActiveState", active)) return err;
        std::string status;
        if (active == "active" || active == "reloading") {
            // Older managers or other unit types lack the status text; the service then simply runs.
            property(kServiceInterface, "StatusText", status);
            clear_pending_error();
        }
        state = 0;
        if (active == "active" || active == "reloading")
            state = status.starts_with(kPausedStatusPrefix) ? kServicePaused : kServiceRunning;
        else if (active == "activating") state = kServiceStartPending;
        else if (active == "deactivating") state = kServiceStopPending;
        else if (active == "inactive" || active == "failed") state = kServiceStopped;
        return 0;
    }

    int32_t start() override { return job("StartUnit"); }
    int32_t stop() override { return job("StopUnit"); }
    int32_t pause() override { return signal_main(kControlPause); }
    int32_t resume() override { return signal_main(kControlContinue); }

    int32_t send_control(uint32_t code) override {
        if (code < kFirstUserControl || code > kLastUserControl)
            return fail(EINVAL, "control code " + std::to_string(code) + " is not a user code");
        return signal_main(static_cast<int32_t>(code));
    }

    int32_t remove() override {
        {
            Call c(bus_->sd());
            const int r = bus_->sd().call_method(bus_->get(), kDestination, kManagerPath, kManagerInterface,
                                             "DisableUnitFiles", &c.error, &c.reply, "asb", 1, unit_.c_str(), 0);
            if (r < 0) return c.failed(r, "disable " + unit_);
        }
        const std::string file = unit_dir() + "/" + unit_;
        if (::unlink(file.c_str()) != 0 && errno != ENOENT) return fail(errno, "remove " + file);
        return reload(*bus_);
    }

    static int32_t reload(const Bus& bus) {
        Call c(bus.sd());
        const int r = bus.sd().call_method(bus.get(), kDestination, kManagerPath, kManagerInterface, "Reload", &c.error,
                                         &c.reply, "");
        return r < 0 ? c.failed(r, "reload the service manager") : 0;
    }

private:
    int32_t property(const char* interface, const char* name, std::string& value) {
        Call c(bus_->sd());
        char* text = nullptr;
        const int r = bus_->sd().get_property_string(bus_->get(), kDestination, path_.c_str(), interface, name, &c.error,
                                                 &text);
        if (r < 0) return c.failed(r, std::string("read ") + name + " of " + unit_);
        value = text;
        std::free(text);
        return 0;
    }

    int32_t job(const char* method) {
        Call c(bus_->sd());
        const int r = bus_->sd().call_method(bus_->get(), kDestination, kManagerPath, kManagerInterface, method, &c.error,
                                         &c.reply, "ss", unit_.c_str(), "replace");
        return r < 0 ? c.failed(r, std::string(method) + " " + unit_) : 0;
    }

    int32_t signal_main(int32_t code) {
        uint32_t pid = 0;
        {
            Call c(bus_->sd());
            const int r = bus_->sd().get_property_trivial(bus_->get(), kDestination, path_.c_str(), kServiceInterface,
                                                      "MainPID", &c.error, 'u', &pid);
            if (r < 0) return c.failed(r, "read MainPID of " + unit_);
        }
        if (pid == 0) return fail(ESRCH, unit_ + " has no running process");
        sigval value{};
        value.sival_int = code;
        if (::sigqueue(static_cast<pid_t>(pid), SIGRTMIN, value) != 0)
            return fail(errno, "send code " + std::to_string(code) + " to " + unit_);
        return 0;
    }

    std::shared_ptr<Bus> bus_;
    std::string unit_;
    std::string path_;
};

class SystemdManager final : public ServiceManager {
public:
    explicit SystemdManager(std::shared_ptr<Bus> bus) : bus_(std::move(bus)) {}

    std::unique_ptr<ServiceHandle> open_service(std::string_view name, uint32_t, int32_t& error) override {
        const std::string unit = unit_name(name);
        std::string path;
        bool known = false;
        error = load(unit, path, known);
        if (error) return nullptr;
        if (!known) {
            error = fail(ENOENT, "no service " + unit);
            return nullptr;
        }
        return std::make_unique<SystemdService>(bus_, unit, path);
    }

    std::unique_ptr<ServiceHandle> create_service(std::string_view name, std::string_view executable,
                                                  int32_t& error) override {
        const std::string unit = unit_name(name);
        if (!valid_unit_name(unit) || !executable.starts_with("/") ||
            executable.find_first_of("\r\n") != std::string_view::npos) {
            error = fail(EINVAL, "cannot make a service " + unit + " of " + std::string(executable));
            return nullptr;
        }
        std::string path;
        bool known = false;
        if ((error = load(unit, path, known))) return nullptr;
        const std::string file = unit_dir() + "/" + unit;
        if (known || ::access(file.c_str(), F_OK) == 0) {
            error = fail(EEXIST, "service " + unit + " exists");
            return nullptr;
        }
        if ((error = write_unit(file, name, executable))) return nullptr;
        if ((error = SystemdService::reload(*bus_)) || (error = enable(unit))) {
            // A service that cannot be enabled is not half made: the file goes again.
            ::unlink(file.c_str());
            SystemdService::reload(*bus_);
            return nullptr;
        }
        if ((error = load(unit, path, known))) return nullptr;
        return std::make_unique<SystemdService>(bus_, unit, path);
    }

private:
    // The unit's object path, and whether the manager knows it: a unit without a file is still known
    // while it runs, so that a deleted service can be stopped.
    int32_t load(const std::string& unit, std::string& path, bool& known) {
        {
            Call c(bus_->sd());
            const char* object = nullptr;
            int r = bus_->sd().call_method(bus_->get(), kDestination, kManagerPath, kManagerInterface, "LoadUnit",
                                       &c.error, &c.reply, "s", unit.c_str());
            if (r >= 0) r = bus_->sd().message_read(c.reply, "o", &object);
            if (r < 0) return c.failed(r, "load " + unit);
            path = object;
        }
        std::string load_state, active_state;
        for (auto [name, value] : {std::pair{"LoadState", &load_state}, std::pair{"ActiveState", &active_state}}) {
            Call c(bus_->sd());
            char* text = nullptr;
            const int r = bus_->sd().get_property_string(bus_->get(), kDestination, path.c_str(), kUnitInterface, name,
                                                     &c.error, &text);
            if (r < 0) return c.failed(r, std::string("read ") + name + " of " + unit);
            *value = text;
            std::free(text);
        }
        known = load_state != "not-found" || (active_state != "inactive" && active_state != "failed");
        return 0;
    }

    int32_t enable(const std::string& unit) {
        Call c(bus_->sd());
        const int r = bus_->sd().call_method(bus_->get(), kDestination, kManagerPath, kManagerInterface,
                                         "EnableUnitFiles", &c.error, &c.reply, "asbb", 1, unit.c_str(), 0, 1);
        return r < 0 ? c.failed(r, "enable " + unit) : 0;
    }

    static int32_t write_unit(const std::string& file, std::string_view name, std::string_view executable) {
        const std::string temp = file + ".new";
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out << "[Unit]\n"
                << "Description=" << name << "\n"
                << "After=network.target\n\n"
                << "[Service]\n"
                << "Type=notify\n"
                << "ExecStart=" << quoted_command(executable) << "\n"
                << "User=root\n"
                << "Restart=on-failure\n\n"
                << "[Install]\n"
                << "WantedBy=multi-user.target\n";
            out.flush();
            if (!out) {
                const int err = errno ? errno : EIO;
                ::unlink(temp.c_str());
                return fail(err, "write " + temp);
            }
        }
        if (std::rename(temp.c_str(), file.c_str()) != 0) {
            const int err = errno;
            ::unlink(temp.c_str());
            return fail(err, "write " + file);
        }
        return 0;
    }

    std::shared_ptr<Bus> bus_;
};

bool this_machine(std::string_view machine) {
    if (machine.empty() || machine == "." || machine == "localhost") return true;
    char host[256] = {};
    return ::gethostname(host, sizeof host - 1) == 0 && machine == host;
}

} // namespace

std::unique_ptr<ServiceManager> open_service_manager(std::string_view machine, uint32_t, int32_t& error) {
    error = 0;
    if (!this_machine(machine)) {
        error = fail(EHOSTUNREACH, "the service manager of " + std::string(machine));
        return nullptr;
    }
    auto api = open_sd_bus();
    if (!api) {
        error = pending_error().number;
        return nullptr;
    }
    sd_bus* raw = nullptr;
    if (const int r = api->open_system(&raw); r < 0) {
        error = fail(-r, "connect to the system bus");
        return nullptr;
    }
    auto bus = std::make_shared<Bus>(api, raw);
    api->set_method_call_timeout(raw, kCallTimeoutUsec);
    // A bus without systemd on it (a container, a minimal system) has no service manager.
    Call c(*api);
    const int r = api->call_method(raw, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "GetNameOwner", &c.error, &c.reply, "s", kDestination);
    if (r < 0) {
        error = c.failed(r, "find systemd on the system bus");
        return nullptr;
    }
    return std::make_unique<SystemdManager>(std::move(bus));
}

} // namespace ktr::platform
