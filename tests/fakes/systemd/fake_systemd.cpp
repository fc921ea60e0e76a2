// A stand-in for systemd on a private bus (DBUS_SYSTEM_BUS_ADDRESS) answering the manager calls and unit
// properties the service manager uses. A unit exists while STATE_DIR/units/<unit> does, holding its
// properties as Name=value lines; every call is appended to STATE_DIR/calls. Reload takes in each new
// *.service file of UNIT_DIR as a stopped unit, not found once its file went (though it runs until stopped).
#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;
using Props = std::map<std::string, std::string>;

std::string g_state, g_units;
constexpr const char* kUnitPrefix = "/org/freedesktop/systemd1/unit";

void record(const std::string& line) { std::ofstream(g_state + "/calls", std::ios::app) << line << "\n"; }

std::string unit_file(const std::string& unit) { return g_state + "/units/" + unit; }

// The unit's properties over the defaults; false (and LoadState "not-found") when there is no such unit.
bool read_props(const std::string& unit, Props& props) {
    std::ifstream in(unit_file(unit));
    const bool found = in.good();
    props = {{"LoadState", found ? "loaded" : "not-found"}, {"ActiveState", "inactive"}, {"StatusText", ""},
             {"MainPID", "0"}};
    for (std::string line; std::getline(in, line);)
        if (const auto eq = line.find('='); eq != std::string::npos) props[line.substr(0, eq)] = line.substr(eq + 1);
    if (props["FromUnitDir"] == "1" && !fs::exists(g_units + "/" + unit)) props["LoadState"] = "not-found";
    return found;
}

void write_props(const std::string& unit, const Props& props) {
    std::ofstream out(unit_file(unit), std::ios::trunc);
    for (const auto& [k, v] : props) out << k << "=" << v << "\n";
}

int get_property(sd_bus*, const char* path, const char*, const char* property, sd_bus_message* reply, void*,
                 sd_bus_error*) {
    char* name = nullptr;
    Props props;
    read_props(sd_bus_path_decode(path, kUnitPrefix, &name) > 0 ? name : "", props);
    std::free(name);
    const std::string& value = props[property];
    if (std::string(property) == "MainPID") return sd_bus_message_append(reply, "u", std::stoul(value));
    return sd_bus_message_append(reply, "s", value.c_str());
}

int load_unit(sd_bus_message* m, void*, sd_bus_error*) {
    const char* unit = nullptr;
    if (const int r = sd_bus_message_read(m, "s", &unit); r < 0) return r;
    record(std::string("LoadUnit ") + unit);
    char* path = nullptr;
    sd_bus_path_encode(kUnitPrefix, unit, &path);
    const int r = sd_bus_reply_method_return(m, "o", path);
    std::free(path);
    return r;
}

// StartUnit and StopUnit: the unit is active or inactive at once.
int start_or_stop_unit(sd_bus_message* m, void*, sd_bus_error* error) {
    const char *unit = nullptr, *mode = nullptr;
    if (const int r = sd_bus_message_read(m, "ss", &unit, &mode); r < 0) return r;
    const std::string method = sd_bus_message_get_member(m);
    record(method + " " + unit + " " + mode);
    Props props;
    if (!read_props(unit, props))
        return sd_bus_error_setf(error, "org.freedesktop.systemd1.NoSuchUnit", "Unit %s not found.", unit);
    props["ActiveState"] = method == "StartUnit" ? "active" : "inactive";
    write_props(unit, props);
    return sd_bus_reply_method_return(m, "o", "/org/freedesktop/systemd1/job/1");
}

int reload(sd_bus_message* m, void*, sd_bus_error*) {
    record("Reload");
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(g_units, ec))
        if (entry.path().extension() == ".service" && !fs::exists(unit_file(entry.path().filename())))
            write_props(entry.path().filename(), {{"ActiveState", "inactive"}, {"FromUnitDir", "1"}});
    return sd_bus_reply_method_return(m, "");
}

// EnableUnitFiles and DisableUnitFiles: a name without a file in the unit folder is an error.
int enable_or_disable_unit_files(sd_bus_message* m, void*, sd_bus_error* error) {
    const std::string method = sd_bus_message_get_member(m);
    char** names = nullptr;
    int r = sd_bus_message_read_strv(m, &names);
    for (char** n = names; n && *n; std::free(*n++)) {
        record(method + " " + *n);
        if (r >= 0 && !fs::exists(g_units + "/" + *n))
            r = sd_bus_error_setf(error, "org.freedesktop.DBus.Error.FileNotFound", "No unit file %s.", *n);
    }
    std::free(names);
    if (r < 0) return r;
    return method == "EnableUnitFiles" ? sd_bus_reply_method_return(m, "ba(sss)", 0, 0)
                                       : sd_bus_reply_method_return(m, "a(sss)", 0);
}

const sd_bus_vtable kManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("LoadUnit", "s", "o", load_unit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("StartUnit", "ss", "o", start_or_stop_unit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("StopUnit", "ss", "o", start_or_stop_unit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Reload", "", "", reload, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("EnableUnitFiles", "asbb", "ba(sss)", enable_or_disable_unit_files, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("DisableUnitFiles", "asb", "a(sss)", enable_or_disable_unit_files, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

// Every unit property on both of its interfaces, so that it is found on either.
const sd_bus_vtable kUnit[] = {SD_BUS_VTABLE_START(0), SD_BUS_PROPERTY("ActiveState", "s", get_property, 0, 0),
                               SD_BUS_PROPERTY("LoadState", "s", get_property, 0, 0),
                               SD_BUS_PROPERTY("StatusText", "s", get_property, 0, 0),
                               SD_BUS_PROPERTY("MainPID", "u", get_property, 0, 0), SD_BUS_VTABLE_END};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fake_systemd STATE_DIR UNIT_DIR\n");
        return 2;
    }
    g_state = argv[1];
    g_units = argv[2];
    fs::create_directories(g_state + "/units");
    sd_bus* bus = nullptr;
    int r = sd_bus_open_system(&bus);
    if (r >= 0)
        r = sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
                                     kManager, nullptr);
    for (const char* interface : {"org.freedesktop.systemd1.Unit", "org.freedesktop.systemd1.Service"})
        if (r >= 0) r = sd_bus_add_fallback_vtable(bus, nullptr, kUnitPrefix, interface, kUnit, nullptr, nullptr);
    if (r >= 0) r = sd_bus_request_name(bus, "org.freedesktop.systemd1", 0);
    if (r < 0) {
        std::fprintf(stderr, "fake_systemd: %s\n", std::strerror(-r));
        return 1;
    }
    while ((r = sd_bus_process(bus, nullptr)) >= 0)
        if (r == 0 && sd_bus_wait(bus, UINT64_MAX) < 0) break;
    sd_bus_flush_close_unref(bus);
    return 0;
}
