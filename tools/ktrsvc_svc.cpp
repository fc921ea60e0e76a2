// ktrsvc-svc: the administrator's service control for the module's service, as the service control
// window offers it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/frm_main_ktrsvc.h"
#include "app/service_manager_ops.h"
#include "app/startup.h"
#include "config/program.h"
#include "platform/files.h"
#include "platform/system_words.h"

namespace {

const std::string kUsage =
    std::string("Usage: ktrsvc-svc [--service NAME] COMMAND [ARGS]\n"
    "\n"
    "Controls the module's service through the machine's service manager (") +
    ktr::platform::kServiceManagerWords + ") and prints the\n"
    "text the operation returns and, where it has one, the status class (0 running, 1 paused,\n"
    "2 stopped, 3 error).\n"
    "\n"
    "Commands:\n"
    "  status             the service's state\n"
    "  start, stop        start or stop the service\n"
    "  pause, continue    pause or continue it (the module goes on serving while paused)\n"
    "  install [PATH]     create the service for the module at PATH (default: ktrsvc in the program\n"
    "                     folder: KTRSVC_HOME, else beside this tool),\n"
    "                     " + ktr::platform::kServiceAccountWords + "\n"
    "  remove             delete the service (a running service goes on until stopped)\n"
    "  control CODE       send a control code: 1 stop, 2 pause, 3 continue, 4 interrogate, 9 start,\n"
    "                     128..255 the module's own codes; other codes are refused\n"
    "  call WORD          send OPTIONS_CHANGED, HEARTBEAT, STATUS, START or RESET_PORTS and wait for\n"
    "                     the service's receipt\n"
    "\n"
    "Options:\n"
    "  --service NAME     the service (default ZKEnterprise)\n"
    "  -h, --help         this text\n"
    "\n" +
    (ktr::platform::kRegistryIsAFile
         ? "Environment: KTRSVC_UNIT_DIR is where install writes the unit (default /etc/systemd/system);\n"
           "KTRSVC_REGISTRY or KTRSVC_HOME locate the registry where call reads the receipt.\n\n"
         : "") +
    "Exit status: 0 on success, 1 when the operation failed, 2 for a usage error.\n";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "ktrsvc-svc: %s\nTry 'ktrsvc-svc --help'.\n", message.c_str());
    return 2;
}

int with_class(const std::string& text, int16_t status_class, bool ok) {
    std::printf("%s\nclass %d\n", text.c_str(), status_class);
    return ok ? 0 : 1;
}

int plain(const std::string& text, bool ok) {
    std::printf("%s\n", text.c_str());
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    using namespace ktr::app;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string service = kServiceName;
    while (!args.empty() && args.front().starts_with("-")) {
        if (args.front() == "-h" || args.front() == "--help") {
            std::fputs(kUsage.c_str(), stdout);
            return 0;
        }
        if (args.front() != "--service" || args.size() < 2) return usage_error("unknown option " + args.front());
        service = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return usage_error("no command");
    const std::string command = args.front();
    const size_t extra = args.size() - 1;
    const bool takes_one = command == "control" || command == "call";
    if ((takes_one && extra != 1) || (command == "install" && extra > 1) ||
        (!takes_one && command != "install" && extra != 0))
        return usage_error("wrong arguments for " + command);

    int16_t status_class = kClassError;
    if (command == "status") {
        const std::string text = ServiceStatus("", service, status_class);
        return with_class(text, status_class, status_class != kClassError);
    }
    using Operation = std::string (*)(std::string_view, std::string_view, int16_t&);
    for (const auto& [name, operation] : {std::pair<const char*, Operation>{"start", ServiceStart},
                                          {"stop", ServiceStop},
                                          {"pause", ServicePause},
                                          {"continue", ServiceContinue}}) {
        if (command != name) continue;
        const std::string text = operation("", service, status_class);
        return with_class(text, status_class, text == "OK");
    }
    if (command == "install") {
        const std::string path = extra ? args[1] : ktr::platform::join_path(ktr::platform::program_folder(),
                                                                             std::string("ktrsvc") + ktr::platform::kProgramSuffix);
        const std::string text = ServiceRegister(service, "INSTALL", path);
        return plain(text, text == "OK");
    }
    if (command == "remove") {
        const std::string text = ServiceRegister(service, "REMOVE", "");
        return plain(text, text == "OK");
    }
    if (command == "control") {
        char* end = nullptr;
        const long long code = std::strtoll(args[1].c_str(), &end, 10);
        if (args[1].empty() || *end != '\0' || code < -2147483648LL || code > 2147483647LL)
            return usage_error("not a code: " + args[1]);
        const bool ok = ServiceControl(static_cast<int32_t>(code), service);
        return plain(ok ? "OK" : "Failed", ok);
    }
    if (command == "call") {
        set_registry_location();
        const auto& program = ktr::config::program();
        std::string receipt;
        const bool ok = svc_call_func(args[1], program.title, program.settings_key, receipt);
        return plain(ok ? (receipt.empty() ? "OK (no receipt)" : "OK " + receipt) : "Failed", ok);
    }
    return usage_error("unknown command " + command);
}
