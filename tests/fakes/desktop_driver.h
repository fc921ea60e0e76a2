// Drives the desktop's real windows from a test as a user would: window messages posted to them, dialogs
// answered from a thread of their own, and pictures of windows saved as PNG files. Windows only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ktr::testing {

// Why real windows cannot be shown here; empty when they can.
std::string no_display_reason();

// A menu entry's or a control's command, as the window receives it when the user picks it.
void post_command(intptr_t window, int id);
void post_message(intptr_t window, uint32_t message, intptr_t lparam);
// The minimise and close boxes of the title bar; minimised without them (all windows at once).
void post_minimize(intptr_t window);
void minimize_from_outside(intptr_t window);
// The end of the user's session, as the system tells each top-level window.
void post_session_end(intptr_t window);
void post_close(intptr_t window);
// WM_CLOSE to a thread itself, as another program asks this one to end.
uint32_t current_thread();
void post_close_to_thread(uint32_t thread);
bool window_visible(intptr_t window);
bool window_exists(intptr_t window);
// A menu entry of the window's menu bar (found in its sub-menus too) by its command: its caption with
// the access-key marks, and its check mark; empty and false when there is none.
std::string menu_caption(intptr_t window, int id);
bool menu_checked(intptr_t window, int id);

// The button ids of the system's boxes.
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerCancel = 2;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

// A box the test expects, by its title; what to type into its entry (none when empty), which button to
// press, and how long to leave the box open first.
struct DialogAnswer {
    std::string title;
    std::string typed;
    int button = kAnswerOk;
    int hold_ms = 0;
};

// Answers the boxes in order, each once it appears, and keeps the text each one showed.
class DialogAnswerer {
public:
    explicit DialogAnswerer(std::vector<DialogAnswer> answers, int timeout_ms = 15000);
    ~DialogAnswerer();
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;
    // Whether every box has been answered.
    bool done() const;
    // The texts shown so far ("title: text").
    std::vector<std::string> texts() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

// A record's text as the event viewer shows it: the message of that id in this program's message table,
// with the insertion string; empty when the program has no such message.
std::string event_viewer_text(uint32_t event_id, const std::string& insertion);

// Saves what the window shows (title bar, menu and contents) as a PNG file; false when it could not.
bool save_window_png(intptr_t window, const std::string& path);

} // namespace ktr::testing
