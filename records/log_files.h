// The sync log and event log files, the printed sync report, and the event channels.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ktr::records {

class CSync;

// Builds text as a column-oriented line printer lays it out. Columns count from 1 (0 is taken as 1);
// placing an item at a column the line has already passed ends the line and pads the next one.
class ColumnLine {
public:
    // A string item, unchanged.
    ColumnLine& text(int column, std::string_view item);
    // A whole number: a blank or a minus sign, the digits and one trailing blank (0 gives " 0 ").
    ColumnLine& number(int column, int64_t value);
    // A date value in the general date form of the current locale.
    ColumnLine& date(int column, double value);
    // The same items placed right after what the line holds (the printer's ";").
    ColumnLine& text(std::string_view item);
    ColumnLine& number(int64_t value);
    ColumnLine& date(double value);
    // Ends the current line with CR LF.
    ColumnLine& end();
    // Everything built so far; a line not yet ended is included without its CR LF.
    const std::string& str() const { return out_; }

private:
    void move_to(int column);
    std::string out_;
    size_t line_start_ = 0;
};

// The printed report is rendered as plain text into this file of the program folder.
inline constexpr const char* kPrinterOutputName = "printer-output.txt";
// Page geometry of the printed report, in lines and columns.
inline constexpr int kPrinterPageLines = 60;
inline constexpr int kPrinterPageColumns = 80;

// Writes the sync log header (mode 1) or starts a printed report with its page header (mode 2).
void PrintSyncHeader(const std::string& path, int16_t log_mode);
// Writes one sync log record; a missing file gets the header first. Mode 1 = file, 2 = printer.
void PrintSyncBody(const CSync& sync, std::string_view server, const std::string& path, int16_t log_mode);
// Ends a printed report (mode 2).
void PrintSyncEnd(int16_t log_mode);

// Writes the event log header (when LoggingEvntOn is set).
void PrintEvntHeader(const std::string& path);
// Sends one event to every enabled channel: the event file, the NT event log and syslog.
// Event types: 1 error, 2 warning, 4 information.
void PrintEvntBody(std::string_view message, int16_t event_type, const std::string& path);

// The 8-character type text of an event ("Info    ", "Warning ", "Error   "; other types as their number).
std::string event_type_text(int16_t event_type);

} // namespace ktr::records
