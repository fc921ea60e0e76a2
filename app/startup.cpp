#include "app/startup.h"

#include <cstdio>
#include <string>

#include "app/frm_main_ktrsvc.h"
#include "app/service_manager_ops.h"
#include "config/option_store.h"
#include "config/options.h"
#include "config/program.h"
#include "config/registry_tools.h"
#include "config/security.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "platform/files.h"
#include "platform/pending_error.h"
#include "platform/registry_hive.h"
#include "platform/service_host.h"
#include "platform/system.h"
#include "platform/system_words.h"

namespace ktr::app {

std::vector<std::string> get_command_args(std::string_view command_line, int max_args) {
    std::vector<std::string> words(1);  // index 0 stays empty
    bool in_word = false;
    for (const char c : command_line) {
        if (c == ' ' || c == '\t') {
            in_word = false;
            continue;
        }
        if (!in_word) {
            if (static_cast<int>(words.size()) - 1 >= max_args) break;
            words.emplace_back();
            in_word = true;
        }
        words.back() += c;
    }
    return words;
}

CommandFlags apply_command_words(const std::vector<std::string>& words) {
    auto& program = config::program();
    const std::string folder = platform::program_folder();
    auto& debug = diag::debug_state();
    debug.file_path = platform::join_path(folder, "DebugFile.txt");
    program.help_file = platform::join_path(folder, "ZKEnt.hlp");

    CommandFlags flags;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "once") {
            flags.once = true;
        } else if (w == "screen") {
            debug.on = true;
            debug.to_file = false;
        } else if (w == "debug") {
            debug.on = true;
            debug.to_file = true;
            diag::set_debug_file_mode(true);
        } else if (w == "removereg") {
            flags.remove_registration = true;
        } else if (w == "background") {
            flags.background = true;
        }
    }
    return flags;
}

void set_registry_location() {
    auto& program = config::program();
    if (platform::os_family() == "Windows 95/98") {
        program.registry_root = config::kHkeyCurrentUser;
        program.registry_base = "Software\\VB and VBA Program Settings\\";
    } else {
        program.registry_root = config::kHkeyUsers;
        program.registry_base = ".DEFAULT\\Software\\VB and VBA Program Settings\\";
    }
    program.options_key = program.registry_base + program.title + "\\Options";
    program.settings_key = program.registry_base + program.title + "\\Settings";
}

bool registry_usable() {
    platform::RegistryHive& hive = platform::registry_hive();
    if (hive.status() == platform::kRegOk) return true;
    const std::string text = "Registry " + hive.file_path() + " cannot be used (" + hive.status_text() +
                             "); running on default options without storing them.";
    KTR_TRACE(text);
    // Where an operator looks, whatever the logging options say.
    const std::string remedy = text + " Stop the module, move the file aside (ktrsvc-reg import can restore a "
                                      "REGEDIT4 export into a new one) and start the module again.";
    std::fprintf(stderr, "%s\n", remedy.c_str());
    platform::report_system_event(config::program().title, static_cast<int>(platform::EventType::error), 7, remedy);
    platform::set_pending_error(hive.status(), hive.status_text());
    diag::error_report(diag::Severity::error, text, "modMain", "Main", 7);
    return false;
}

DelimitedReader::DelimitedReader(std::string_view text) : text_(text) {}

bool DelimitedReader::at_end() const {
    // Blank lines at the very end hold no more fields.
    for (size_t i = pos_; i < text_.size(); ++i) {
        const char c = text_[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    }
    return true;
}

bool DelimitedReader::next_field(std::string& field) {
    field.clear();
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    if (pos_ >= text_.size()) return false;
    if (text_[pos_] == '"') {
        const size_t close = text_.find('"', pos_ + 1);
        const size_t stop = close == std::string_view::npos ? text_.size() : close;
        field.assign(text_.substr(pos_ + 1, stop - pos_ - 1));
        pos_ = close == std::string_view::npos ? text_.size() : close + 1;
        // Whatever follows the closing quote up to the delimiter is not part of the field.
        while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\r' && text_[pos_] != '\n') ++pos_;
    } else {
        const size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\r' && text_[pos_] != '\n') ++pos_;
        std::string_view raw = text_.substr(start, pos_ - start);
        while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t')) raw.remove_suffix(1);
        field.assign(raw);
    }
    if (pos_ < text_.size()) {
        if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ++pos_;
        ++pos_;
    }
    return true;
}

void ReadInFile(const std::string& path, config::COptions& options) {
    KTR_TRACE("--Begin: ReadIn Initial Option Settings--");
    if (path.empty()) return;
    std::string contents;
    if (!platform::read_file(path, contents)) {
        diag::error_report(diag::Severity::information, "ReadInSetting error", "modMain", "ReadInFile", 1);
        return;
    }
    DelimitedReader reader(contents);
    std::string name;
    std::string value;
    for (int pair = 1; !reader.at_end(); ++pair) {
        reader.next_field(name);
        if (!reader.next_field(value)) {
            // The file ended inside the pair: the name has no value to apply.
            platform::set_pending_error(62, "Input past end of file");
            diag::error_report(diag::Severity::information, "ReadInSetting error", "modMain", "ReadInFile", 1);
            break;
        }
        if (!name.empty()) {
            KTR_TRACE(std::to_string(pair) + "-> ", true);
            config::set_option_value(name, value, options);
        } else {
            KTR_TRACE(std::to_string(pair) + "(Line  is empty:) " + value);
        }
    }
    KTR_TRACE("--End: ReadIn Initial Option Settings--");
}

void once_mode() {
    KTR_TRACE("Once mode begins...");
    config::options().SettingMode(config::kModeBatch);
    // The batch run would press the main window's manual command; in this module that is its Exit, and
    // no window exists yet, so once mode ends here.
}

void connect_reports() {
    auto& reports = diag::report_settings();
    reports.title = config::program().title;
    reports.nt_event_log = [] { return config::options().LoggingNTEvntOn(); };
}

int Main(std::string_view command_line) {
    connect_reports();
    const CommandFlags flags = apply_command_words(get_command_args(command_line, 4));
    auto& program = config::program();
    auto& options = config::options();
    KTR_TRACE("");
    KTR_TRACE("------------------------------------------------------------");
    KTR_TRACE(config::program_comments());

    if (!flags.once) {
        set_registry_location();
        // A hive that cannot be read is reported and left alone: the options stay in memory only.
        const bool hive_ok = registry_usable();
        if (hive_ok && !config::key_store::Registry_Get(options, program.title))
            KTR_TRACE("Registry options not found for " + program.title + ".  Aborting.");
        if (options.NISTServer().empty()) {
            KTR_TRACE("Initializing options for " + program.title + " Version " +
                      std::to_string(config::kVersionMajor) + "." +
                      std::to_string(config::kVersionMinor) + "." +
                      std::to_string(config::kVersionRevision) + " for the first time.");
            config::set_option_defaults(options);
            options.SettingMode(config::kModeManual);
            const std::string init_file = platform::join_path(platform::program_folder(), "ZKEntinit.ini");
            if (platform::file_exists(init_file)) ReadInFile(init_file, options);
            if (hive_ok) {
                // The key writes below only open existing keys; a first start has none yet.
                config::CreateNewKey(program.options_key, program.registry_root);
                config::key_store::Registry_Set(program.options_key, options);
            }
        }
    }

    config::warn_if_open_to_all();
    if (flags.remove_registration) {
        config::remove_startup_entry(program.title);
        // The service is removed by the name the manager knows it by, the one every other caller uses.
        if (platform::os_family() == "Windows NT")
            ServiceRegister(kServiceName, "REMOVE", platform::join_path(platform::program_folder(), "ktrsvc"));
        return 0;
    }
    if (options.SettingMode() == config::kModeBatch) {
        once_mode();
        return 0;
    }
    return platform::started_as_service() ? service_run() : desktop_run();
}

std::string usage_text() {
    return std::string("Usage: ktrsvc [once] [screen] [debug] [removereg] [background]\n"
           "The Service Module: serves the console on TCPPort ") + platform::kHowToStopWords + ".\n"
           "  once        one sync run, then end\n"
           "  screen      trace to the terminal\n"
           "  debug       trace to DebugFile.txt in the program folder\n"
           "  removereg   remove the automatic-start entry and the service, then end\n"
           "  background  start without the window\n"
           "Environment:\n"
           "  KTRSVC_HOME         the program folder (default: the folder of the executable)\n" +
           (platform::kRegistryIsAFile
                ? "  KTRSVC_REGISTRY     the registry hive file (default: registry.db in the program folder)\n"
                : "") +
           "  KTRSVC_SIMULATE     clock,power: set a clock held in the process; record power requests\n"
           "  KTRSVC_MODULE_TYPE  the one-letter module type (default M)\n"
           "  KTRSVC_COM<n>       the device of serial port COM<n> (default " + platform::kSerialDeviceWords + ")\n";
}

int run_main(int argc, char** argv) {
    platform::use_parent_console();
    // Asking for help touches nothing: no registry, no listener.
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--help" || word == "-h") {
            std::fputs(usage_text().c_str(), stdout);
            return 0;
        }
    }
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return Main(line);
}

} // namespace ktr::app
