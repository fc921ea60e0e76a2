#include "app/frm_sys_tray.h"

#include <cmath>

#include "diag/debug_log.h"
#include "diag/error_report.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace ktr::app {
namespace {
constexpr const char* kModule = "modSysTray";
// The picture box reports the message in place of the pointer's position, in twips.
constexpr uint32_t kTwipsPerPixel = 15;
} // namespace

bool frmSysTray::call(platform::NotifyIconOperation operation, int16_t picture, const std::string& tip) {
    record_.window = picIcon;
    record_.picture = picture;
    // The shell's field holds the tip and its terminating NUL.
    record_.tip = platform::first_characters(tip, platform::kNotifyTipChars);
    return shell && shell(operation, record_);
}

bool frmSysTray::nim_add_icon(int16_t picture, const std::string& tip) {
    if (call(platform::NotifyIconOperation::add, picture, tip)) {
        KTR_TRACE("Added icon OK to system tray");
        return true;
    }
    diag::error_report(diag::Severity::problem, "Add icon error", kModule, "nim_add_icon", 800);
    return false;
}

bool frmSysTray::nim_modify_icon(int16_t picture, const std::string& tip) {
    if (call(platform::NotifyIconOperation::modify, picture, tip)) return true;
    diag::error_report(diag::Severity::problem, "Modify icon error", kModule, "nim_modify_icon", 801);
    return false;
}

void frmSysTray::nim_delete_icon() { call(platform::NotifyIconOperation::remove, picture_, tip_); }

bool frmSysTray::add_icon(int16_t nPicIndex, const std::string& sTip) {
    if (!shell) return false;
    if (!nim_add_icon(nPicIndex, sTip)) return false;
    added_ = true;
    picture_ = nPicIndex;
    tip_ = record_.tip;
    return true;
}

void frmSysTray::modify_icon(int16_t nPicIndex, const std::string& sTip) {
    if (!shell) return;
    if (!added_) add_icon(nPicIndex, kFirstTip);
    nim_modify_icon(nPicIndex, sTip);
    picture_ = nPicIndex;
    tip_ = record_.tip;
}

void frmSysTray::delete_icon() {
    if (!added_) return;
    nim_delete_icon();
    added_ = false;
}

void frmSysTray::refresh_icon() {
    if (added_) nim_add_icon(picture_, tip_);
}

void frmSysTray::picIcon_MouseMove(uint32_t message) {
    switch (message) {
    case kLeftButtonDown:
    case kLeftDoubleClick:
        if (show_or_hide) show_or_hide();
        break;
    case kRightDoubleClick:
        if (cmdManual_Click) cmdManual_Click();
        break;
    case kMouseMove:
    case kLeftButtonUp:
    case kRightButtonDown:
    case kRightButtonUp: break;
    default: unknown_message(message); break;
    }
}

// A message the table does not name acts (and is traced) only when no other came in this second of the
// clock or the one before, so that a burst of them does not make the window flicker.
void frmSysTray::unknown_message(uint32_t message) {
    // Whole milliseconds first, so that a clock standing on a second boundary is not read just before it.
    const int64_t second = std::llround(platform::now_local() * 86400000.0) / 1000;
    const bool recent = last_unknown_second_ && second >= *last_unknown_second_ && second - *last_unknown_second_ <= 1;
    last_unknown_second_ = second;
    if (recent) return;
    if (show_or_hide) show_or_hide();
    KTR_TRACE("UNKNOWN MOUSE MOVE: " + std::string(" Button:") + "0" + " Shift:" + "0" +
              " X:" + std::to_string(message * kTwipsPerPixel) + " Y:" + "0");
}

} // namespace ktr::app
