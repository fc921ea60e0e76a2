#include "records/log_files.h"

#include "config/options.h"
#include "config/program.h"
#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/pending_error.h"
#include "records/sync_record.h"
#include "records/syslog.h"

namespace ktr::records {

// ---- ColumnLine ----

void ColumnLine::move_to(int column) {
    const size_t target = static_cast<size_t>(column < 1 ? 1 : column) - 1;
    if (out_.size() - line_start_ > target) end();
    out_.append(target - (out_.size() - line_start_), ' ');
}

ColumnLine& ColumnLine::text(std::string_view item) {
    out_ += item;
    return *this;
}

ColumnLine& ColumnLine::number(int64_t value) {
    out_ += value < 0 ? "" : " ";
    out_ += std::to_string(value);
    out_ += ' ';
    return *this;
}

ColumnLine& ColumnLine::date(double value) { return text(platform::format_date(value, "General Date")); }

ColumnLine& ColumnLine::text(int column, std::string_view item) {
    move_to(column);
    return text(item);
}

ColumnLine& ColumnLine::number(int column, int64_t value) {
    move_to(column);
    return number(value);
}

ColumnLine& ColumnLine::date(int column, double value) {
    move_to(column);
    return date(value);
}

ColumnLine& ColumnLine::end() {
    out_ += "\r\n";
    line_start_ = out_.size();
    return *this;
}

namespace {

// ---- shared line contents ----

void sync_column_heads(ColumnLine& l) {
    l.text(1, "Date").text(10, "Time").text(20, "Difference").text(31, "Accuracy").text(41, "Status").text(48, "Server").end();
    l.text(1, "-----").text(10, "----").text(20, "----------").text(31, "--------").text(41, "------").text(48, "------").end();
}

void sync_record_line(ColumnLine& l, const CSync& sync, std::string_view server) {
    const std::string difference =
        sync.SyncUseFrac()
            ? platform::format_number(static_cast<double>(sync.SyncDifferenceSec()) + sync.SyncSecFrac(), "#.00#")
            : platform::format_number(static_cast<double>(sync.SyncDifferenceSec()), "#.#");
    l.date(1, sync.SyncLocalTime())
        .text(20, difference)
        .text(31, platform::format_number(sync.SyncAccuracy(), "0.0"))
        .number(41, sync.SyncStatus())
        .text(48, server)
        .end();
}

size_t count_lines(const std::string& text) {
    size_t n = 0;
    for (const char c : text)
        if (c == '\n') ++n;
    return n;
}

// ---- the printed report, rendered as text into the program folder ----

struct PrinterDocument {
    bool open = false;
    int page = 1;
    int line = 0;  // lines printed on the current page
};

PrinterDocument& printer() {
    static PrinterDocument doc;
    return doc;
}

std::string printer_path() { return platform::join_path(platform::program_folder(), kPrinterOutputName); }

bool print_text(const std::string& text) {
    if (!platform::append_to_file(printer_path(), text)) return false;
    printer().line += static_cast<int>(count_lines(text));
    return true;
}

void report_print_failure(std::string_view procedure) {
    error_report(diag::Severity::problem, "Couldn't print document.", "modCommon", procedure, 20);
}

std::string page_footer(int page) { return ColumnLine().text(50, "Page ").number(page).end().str(); }

bool start_printed_report() {
    ColumnLine l;
    l.end().end();
    l.text(1, "Synchronization Log").text(30, "Created: ").date(platform::now_local()).end();
    l.end().end();
    sync_column_heads(l);
    PrinterDocument& doc = printer();
    doc = PrinterDocument{};
    doc.open = true;
    KTR_TRACE("Scale Height: " + std::to_string(kPrinterPageLines));
    KTR_TRACE("Scale Width: " + std::to_string(kPrinterPageColumns));
    return print_text(l.str());
}

bool print_sync_record(const CSync& sync, std::string_view server) {
    PrinterDocument& doc = printer();
    if (!doc.open && !start_printed_report()) return false;
    ColumnLine record;
    sync_record_line(record, sync, server);
    const int needed = static_cast<int>(count_lines(record.str()));
    // Keep one line at the bottom of each page for its footer.
    if (doc.line + needed > kPrinterPageLines - 1) {
        ColumnLine next;
        next.text(1, "Sync Log - continued").date(30, platform::now_local()).end().end().end();
        if (!platform::append_to_file(printer_path(), page_footer(doc.page))) return false;
        ++doc.page;
        doc.line = 0;
        // A form feed starts the new page.
        if (!print_text("\f" + next.str())) return false;
    }
    return print_text(record.str());
}

// ---- the sync log file ----

bool write_sync_header(const std::string& path) {
    ColumnLine l;
    l.text(1, "Synchronization Log").date(30, platform::now_local()).end();
    sync_column_heads(l);
    return platform::append_to_file(path, l.str());
}

void report_sync_file_failure(const std::string& path, std::string_view procedure) {
    error_report(diag::Severity::problem, "Couldn't write log file to " + path, "modMain", procedure, 10);
}

void swallow_failure() { platform::clear_pending_error(); }

} // namespace

void PrintSyncHeader(const std::string& path, int16_t log_mode) {
    if (log_mode == config::kLogToFile) {
        if (!write_sync_header(path)) report_sync_file_failure(path, "PrintSyncHeader");
    } else if (log_mode == config::kLogToPrinter) {
        if (!start_printed_report()) report_print_failure("PrintSyncHeader");
    }
}

void PrintSyncBody(const CSync& sync, std::string_view server, const std::string& path, int16_t log_mode) {
    try {
        if (log_mode == config::kLogToPrinter) {
            if (!print_sync_record(sync, server)) report_print_failure("PrintSyncBody");
            return;
        }
        if (log_mode != config::kLogToFile || path.empty()) return;
        if (!platform::file_exists(path) && !write_sync_header(path)) {
            report_sync_file_failure(path, "PrintSyncBody");
            return;
        }
        ColumnLine l;
        sync_record_line(l, sync, server);
        if (!platform::append_to_file(path, l.str())) report_sync_file_failure(path, "PrintSyncBody");
    } catch (...) {
        report_sync_file_failure(path, "PrintSyncBody");
    }
}

void PrintSyncEnd(int16_t log_mode) {
    PrinterDocument& doc = printer();
    if (log_mode == config::kLogToPrinter && doc.open) {
        const std::string text = ColumnLine().text(1, "<End of Report>").end().str() + page_footer(doc.page);
        doc = PrinterDocument{};
        if (!platform::append_to_file(printer_path(), text)) report_print_failure("PrintSyncEnd");
    }
    KTR_TRACE("<End of Log>");
}

std::string event_type_text(int16_t event_type) {
    switch (event_type) {
    case 4: return "Info    ";
    case 2: return "Warning ";
    case 1: return "Error   ";
    default: return std::to_string(event_type);
    }
}

void PrintEvntHeader(const std::string& path) {
    try {
        const config::COptions& o = config::options();
        if (o.LoggingEvntOn()) {
            ColumnLine l;
            l.text(1, "Event Log").date(30, platform::now_local()).end();
            l.text(1, "Date").text(10, "Time").text(20, "Type").text(28, "Action").end();
            l.text(1, "-----").text(10, "----").text(20, "----").text(28, "-----").end();
            if (!platform::append_to_file(path, l.str())) swallow_failure();
        } else if (o.LoggingNTEvntOn()) {
            KTR_TRACE("initializing event logging");
        }
    } catch (...) {
        swallow_failure();
    }
}

void PrintEvntBody(std::string_view message, int16_t event_type, const std::string& path) {
    try {
        const config::COptions& o = config::options();
        const std::string type_text = event_type_text(event_type);
        std::string event_line = platform::format_date(platform::now_local(), "General Date");
        event_line += "  ";
        event_line += type_text;
        event_line += message;

        // An empty file name only turns off the file: the event still goes to the other channels.
        if (o.LoggingEvntOn() && !path.empty()) {
            if (!platform::file_exists(path)) PrintEvntHeader(path);
            if (!platform::append_to_file(path, ColumnLine().text(1, event_line).end().str())) swallow_failure();
        }
        if (o.LoggingNTEvntOn()) diag::log_nt_event(event_line, static_cast<platform::EventType>(event_type), 1);
        if (o.LoggingSyslogOn()) {
            const bool sent = send_syslog(type_text + std::string(message), config::program().title,
                                          o.LoggingSyslogServ(), kSyslogFacility, event_type);
            KTR_TRACE(std::string("Syslog sent OK, result: ") + (sent ? "True" : "False"));
        }
    } catch (...) {
        swallow_failure();
    }
}

} // namespace ktr::records
