// The desktop's windows on Windows: plain top-level windows of STATIC labels and push buttons in the
// system's message font, menus from CreateMenu, the notification-area icon through Shell_NotifyIconW,
// MessageBoxW, and an input box built from an in-memory dialog template. Framed labels are drawn by the
// window itself, so that their text keeps a margin inside the frame and their colour fills it.
#include "platform/win32/win32_support.h"

#include <commctrl.h>
#include <shellapi.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop_window.h"
#include "platform/event_pump.h"
#include "platform/pending_error.h"

namespace ktr::platform {

int g_modal_boxes = 0;

namespace {

// While a modal box waits for the user, a thread timer runs the pump from the box's own message loop,
// so the console is still served and the module's timers still fire.
// A request to end posted to the thread would be thrown away by the box's loop (it has no window to go to):
// a message filter hands it to the pump instead.
class ModalPump {
public:
    ModalPump()
        : timer_(SetTimer(nullptr, 0, kIntervalMs, &ModalPump::tick)),
          filter_(SetWindowsHookExW(WH_MSGFILTER, &ModalPump::filter, nullptr, GetCurrentThreadId())) {
        ++g_modal_boxes;
    }
    ~ModalPump() {
        if (filter_) UnhookWindowsHookEx(filter_);
        if (timer_) KillTimer(nullptr, timer_);
        --g_modal_boxes;
    }
    ModalPump(const ModalPump&) = delete;
    ModalPump& operator=(const ModalPump&) = delete;

private:
    static constexpr UINT kIntervalMs = 35;
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        static bool running = false;
        if (running) return;
        running = true;
        pump_events(0);
        running = false;
    }
    static LRESULT CALLBACK filter(int code, WPARAM wparam, LPARAM lparam) {
        const MSG* msg = reinterpret_cast<const MSG*>(lparam);
        if (code >= 0 && msg && msg->hwnd == nullptr && msg->message == WM_CLOSE) {
            request_stop_by_message();
            return TRUE;
        }
        return CallNextHookEx(nullptr, code, wparam, lparam);
    }
    UINT_PTR timer_;
    HHOOK filter_;
};

// The pending error from a system error number; a call that failed without saying why gets a text of
// its own.
void set_error(DWORD number, const char* otherwise) {
    if (number == 0) set_pending_error(static_cast<int32_t>(E_FAIL), otherwise);
    else set_pending_error_from_system(number);
}

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

// The font of message boxes: what the system shows its own dialogs in.
HFONT ui_font() {
    static const HFONT font = [] {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
            if (HFONT f = CreateFontIndirectW(&metrics.lfMessageFont)) return f;
        return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }();
    return font;
}

// The module's icon resources are numbered from 1; a program without them shows the system's own.
HICON picture_icon(int16_t picture, bool small) {
    const int size = GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
    if (auto icon = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(1 + picture), IMAGE_ICON, size, size, LR_SHARED)))
        return icon;
    return LoadIconW(nullptr, IDI_APPLICATION);
}

void start_common_controls() {
    static const bool started = [] {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)started;
}

constexpr wchar_t kWindowClass[] = L"KtrsvcWindow";
constexpr wchar_t kTrayClass[] = L"KtrsvcTray";

bool register_class(const wchar_t* name, WNDPROC proc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExW(instance(), name, &wc)) return true;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance();
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = picture_icon(0, false);
    wc.hIconSm = picture_icon(0, true);
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0;
}

HMENU build_menu(const std::vector<MenuEntry>& entries, bool bar) {
    HMENU menu = bar ? CreateMenu() : CreatePopupMenu();
    for (const MenuEntry& e : entries) {
        if (!e.visible) continue;
        const std::wstring caption = to_wide(e.caption);
        if (e.caption.empty()) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        else if (!e.items.empty())
            AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(build_menu(e.items, false)), caption.c_str());
        else
            AppendMenuW(menu, MF_STRING | (e.checked ? MF_CHECKED : MF_UNCHECKED), static_cast<UINT_PTR>(e.id), caption.c_str());
    }
    return menu;
}

class Win32Window final : public DesktopWindow {
public:
    Win32Window(const WindowDesign& design, WindowEvents events) : events_(std::move(events)) {
        start_common_controls();
        if (!register_class(kWindowClass, &Win32Window::proc)) {
            set_error(GetLastError(), "The window class could not be registered");
            return;
        }
        style_ = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | (design.minimize_box ? WS_MINIMIZEBOX : 0);
        ex_style_ = design.owner ? WS_EX_DLGMODALFRAME : WS_EX_APPWINDOW;
        client_ = {0, 0, design.width, design.height};
        RECT frame = client_;
        AdjustWindowRectEx(&frame, style_, FALSE, ex_style_);
        hwnd_ = CreateWindowExW(ex_style_, kWindowClass, to_wide(design.caption).c_str(), style_, CW_USEDEFAULT, CW_USEDEFAULT,
                                frame.right - frame.left, frame.bottom - frame.top,
                                reinterpret_cast<HWND>(design.owner), nullptr, instance(), this);
        if (!hwnd_) {
            set_error(GetLastError(), "The window could not be made");
            return;
        }
        SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(ui_font()), FALSE);
        for (const ControlDesign& c : design.controls) add_control(c);
        if (design.owner) centre_over(reinterpret_cast<HWND>(design.owner));
    }

    ~Win32Window() override {
        if (!hwnd_) return;
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        HMENU menu = GetMenu(hwnd_);
        DestroyWindow(hwnd_);
        if (menu) DestroyMenu(menu);
        for (auto& [id, c] : controls_)
            if (c.brush) DeleteObject(c.brush);
    }

    bool made() const { return hwnd_ != nullptr; }

    void set_caption(const std::string& text) override {
        if (text == caption_) return;
        caption_ = text;
        SetWindowTextW(hwnd_, to_wide(text).c_str());
    }

    void set_text(int id, const std::string& text) override {
        Control* c = control(id);
        if (!c || c->text == text) return;
        c->text = text;
        SetWindowTextW(c->hwnd, to_wide(text).c_str());
        if (c->framed) InvalidateRect(c->hwnd, nullptr, TRUE);
    }

    void set_colour(int id, uint32_t colour) override {
        Control* c = control(id);
        if (!c || c->colour == colour) return;
        c->colour = colour;
        if (c->brush) DeleteObject(c->brush);
        c->brush = colour == kSystemColour ? nullptr : CreateSolidBrush(static_cast<COLORREF>(colour));
        InvalidateRect(c->hwnd, nullptr, TRUE);
    }

    void set_control_visible(int id, bool visible) override {
        if (Control* c = control(id)) ShowWindow(c->hwnd, visible ? SW_SHOWNA : SW_HIDE);
    }

    void set_menu(const std::vector<MenuEntry>& bar) override {
        HMENU old = GetMenu(hwnd_);
        SetMenu(hwnd_, bar.empty() ? nullptr : build_menu(bar, true));
        if (old) DestroyMenu(old);
        // The client area keeps its size under the menu bar.
        RECT frame = client_;
        AdjustWindowRectEx(&frame, style_, GetMenu(hwnd_) != nullptr, ex_style_);
        SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        DrawMenuBar(hwnd_);
    }

    void show(bool visible) override { ShowWindow(hwnd_, visible ? (IsIconic(hwnd_) ? SW_RESTORE : SW_SHOWNORMAL) : SW_HIDE); }
    void to_foreground() override { SetForegroundWindow(hwnd_); }
    void set_topmost(bool on) override {
        SetWindowPos(hwnd_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    bool visible() const override { return IsWindowVisible(hwnd_) != FALSE; }
    std::string text(int id) const override {
        auto it = controls_.find(id);
        if (it == controls_.end()) return {};
        wchar_t buffer[1024] = {};
        const int n = GetWindowTextW(it->second.hwnd, buffer, 1024);
        return to_utf8(std::wstring_view(buffer, static_cast<size_t>(n > 0 ? n : 0)));
    }
    intptr_t native_handle() const override { return reinterpret_cast<intptr_t>(hwnd_); }

private:
    struct Control {
        HWND hwnd = nullptr;
        bool framed = false;
        std::string text;
        uint32_t colour = kSystemColour;
        HBRUSH brush = nullptr;
    };

    Control* control(int id) {
        auto it = controls_.find(id);
        return it == controls_.end() ? nullptr : &it->second;
    }
    Control* control(HWND hwnd) {
        for (auto& [id, c] : controls_)
            if (c.hwnd == hwnd) return &c;
        return nullptr;
    }

    void add_control(const ControlDesign& d) {
        DWORD style = WS_CHILD | (d.visible ? WS_VISIBLE : 0);
        const wchar_t* cls = L"STATIC";
        switch (d.kind) {
        case ControlKind::label: style |= SS_LEFT | SS_NOPREFIX | (d.clickable ? SS_NOTIFY : 0); break;
        case ControlKind::framed_label: style |= SS_OWNERDRAW | (d.clickable ? SS_NOTIFY : 0); break;
        case ControlKind::button:
            cls = L"BUTTON";
            style |= WS_TABSTOP | BS_PUSHBUTTON;
            break;
        }
        Control c;
        c.framed = d.kind == ControlKind::framed_label;
        c.text = d.text;
        c.hwnd = CreateWindowExW(0, cls, to_wide(d.text).c_str(), style, d.x, d.y, d.width, d.height, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(d.id)), instance(), nullptr);
        SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(ui_font()), FALSE);
        controls_[d.id] = c;
    }

    void centre_over(HWND owner) {
        RECT o{}, w{};
        GetWindowRect(owner, &o);
        GetWindowRect(hwnd_, &w);
        const int x = o.left + ((o.right - o.left) - (w.right - w.left)) / 2;
        const int y = o.top + ((o.bottom - o.top) - (w.bottom - w.top)) / 2;
        SetWindowPos(hwnd_, nullptr, x > 0 ? x : 0, y > 0 ? y : 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    // A framed label: a sunken edge, its colour inside, and the text a few pixels in, wrapped and
    // centred upright as a block.
    void draw_framed(const DRAWITEMSTRUCT& item) {
        Control* c = control(item.hwndItem);
        if (!c) return;
        RECT r = item.rcItem;
        FillRect(item.hDC, &r, c->brush ? c->brush : GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(item.hDC, &r, BDR_SUNKENOUTER, BF_RECT);
        InflateRect(&r, -6, -4);
        SetBkMode(item.hDC, TRANSPARENT);
        SetTextColor(item.hDC, GetSysColor(COLOR_BTNTEXT));
        HGDIOBJ old = SelectObject(item.hDC, ui_font());
        const std::wstring text = to_wide(c->text);
        const UINT format = DT_NOPREFIX | DT_WORDBREAK | DT_EDITCONTROL;
        RECT needed = r;
        DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &needed, format | DT_CALCRECT);
        const int spare = (r.bottom - r.top) - (needed.bottom - needed.top);
        if (spare > 0) r.top += spare / 2;
        DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r, format);
        SelectObject(item.hDC, old);
    }

    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp) {
        switch (msg) {
        case WM_COMMAND:
            // Menu entries (no control), button clicks and label clicks share notification code 0.
            if (HIWORD(wp) == 0 && events_.on_command) events_.on_command(LOWORD(wp));
            return 0;
        case WM_SYSCOMMAND:
            if ((wp & 0xFFF0) == SC_MINIMIZE && events_.on_minimize) {
                events_.on_minimize();
                return 0;
            }
            break;
        case WM_SIZE:
            // Minimised another way (all windows at once, the taskbar): hidden to the tray all the same.
            if (wp == SIZE_MINIMIZED && events_.on_minimize) events_.on_minimize();
            break;
        case WM_CLOSE:
            if (events_.on_close) events_.on_close();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            // The process may be ended as soon as this returns: what is to be kept is written now.
            if (wp && events_.on_session_end) events_.on_session_end();
            return 0;
        case WM_DRAWITEM:
            draw_framed(*reinterpret_cast<const DRAWITEMSTRUCT*>(lp));
            return TRUE;
        case WM_CTLCOLORSTATIC:
            if (Control* c = control(reinterpret_cast<HWND>(lp)); c && c->brush) {
                SetBkColor(reinterpret_cast<HDC>(wp), static_cast<COLORREF>(c->colour));
                return reinterpret_cast<LRESULT>(c->brush);
            }
            break;
        default: break;
        }
        return DefWindowProcW(hwnd_, msg, wp, lp);
    }

    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE) {
            auto* self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
            self->hwnd_ = hwnd;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
        auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        return self ? self->handle(msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
    }

    HWND hwnd_ = nullptr;
    WindowEvents events_;
    DWORD style_ = 0;
    DWORD ex_style_ = 0;
    RECT client_{};
    std::string caption_;
    std::map<int, Control> controls_;
};

// The hidden window the icon's mouse messages arrive at.
class Win32TrayWindow final : public TrayWindow {
public:
    Win32TrayWindow(std::function<void(uint32_t)> on_message, std::function<void()> on_restart)
        : on_message_(std::move(on_message)), on_restart_(std::move(on_restart)) {
        if (!register_class(kTrayClass, &Win32TrayWindow::proc)) {
            set_error(GetLastError(), "The window class could not be registered");
            return;
        }
        hwnd_ = CreateWindowExW(WS_EX_TOOLWINDOW, kTrayClass, L"frmSysTray", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                instance(), this);
        if (!hwnd_) set_error(GetLastError(), "The window could not be made");
    }
    ~Win32TrayWindow() override {
        if (!hwnd_) return;
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    bool made() const { return hwnd_ != nullptr; }
    intptr_t native_handle() const override { return reinterpret_cast<intptr_t>(hwnd_); }

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE)
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
        auto* self = reinterpret_cast<Win32TrayWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        // The record names the mouse-move message as the icon's callback: the window is never shown, so
        // every one that arrives comes from the icon, with the mouse message in lParam.
        if (self && msg == WM_MOUSEMOVE && self->on_message_) {
            self->on_message_(static_cast<uint32_t>(lp));
            return 0;
        }
        static const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
        if (self && msg == taskbar_created && self->on_restart_) self->on_restart_();
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    HWND hwnd_ = nullptr;
    std::function<void(uint32_t)> on_message_;
    std::function<void()> on_restart_;
};

// A dialog template built in memory: the header, then each item on a DWORD boundary.
class DialogTemplate {
public:
    DialogTemplate(DWORD style, short cx, short cy, std::wstring_view title, WORD items) {
        dword(style);
        dword(0);
        words_.push_back(items);
        words_.insert(words_.end(), {0, 0, static_cast<WORD>(cx), static_cast<WORD>(cy), 0, 0});
        text(title);
        words_.push_back(8);
        text(L"MS Shell Dlg");
    }
    void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom, std::wstring_view caption) {
        if (words_.size() % 2) words_.push_back(0);
        dword(style | WS_CHILD | WS_VISIBLE);
        dword(0);
        words_.insert(words_.end(), {static_cast<WORD>(x), static_cast<WORD>(y), static_cast<WORD>(cx), static_cast<WORD>(cy), id,
                                     0xFFFF, atom});
        text(caption);
        words_.push_back(0);
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void dword(DWORD v) { words_.insert(words_.end(), {LOWORD(v), HIWORD(v)}); }
    void text(std::wstring_view s) {
        words_.insert(words_.end(), s.begin(), s.end());
        words_.push_back(0);
    }
    std::vector<WORD> words_;
};

constexpr WORD kButtonAtom = 0x0080;
constexpr WORD kEditAtom = 0x0081;
constexpr WORD kStaticAtom = 0x0082;
constexpr WORD kPromptId = 100;
constexpr WORD kEntryId = 101;

struct InputState {
    std::wstring prompt;
    std::wstring text;
};

INT_PTR CALLBACK input_proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_INITDIALOG: {
        auto* state = reinterpret_cast<InputState*>(lp);
        SetWindowLongPtrW(dialog, DWLP_USER, lp);
        SetDlgItemTextW(dialog, kPromptId, state->prompt.c_str());
        SetDlgItemTextW(dialog, kEntryId, state->text.c_str());
        SendDlgItemMessageW(dialog, kEntryId, EM_SETSEL, 0, -1);
        SetFocus(GetDlgItem(dialog, kEntryId));
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK) {
            auto* state = reinterpret_cast<InputState*>(GetWindowLongPtrW(dialog, DWLP_USER));
            wchar_t buffer[256] = {};
            const int n = GetDlgItemTextW(dialog, kEntryId, buffer, 256);
            state->text.assign(buffer, static_cast<size_t>(n > 0 ? n : 0));
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wp) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    default: break;
    }
    return FALSE;
}

} // namespace

bool desktop_available() {
    // A service's window station has no visible desktop.
    USEROBJECTFLAGS flags{};
    HWINSTA station = GetProcessWindowStation();
    if (station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
        return (flags.dwFlags & WSF_VISIBLE) != 0;
    return true;
}

std::unique_ptr<DesktopWindow> create_window(const WindowDesign& design, WindowEvents events) {
    auto window = std::make_unique<Win32Window>(design, std::move(events));
    if (!window->made()) return nullptr;
    return window;
}

std::unique_ptr<TrayWindow> create_tray_window(std::function<void(uint32_t)> on_icon_message,
                                               std::function<void()> on_shell_restart) {
    auto window = std::make_unique<Win32TrayWindow>(std::move(on_icon_message), std::move(on_shell_restart));
    if (!window->made()) return nullptr;
    return window;
}

bool shell_notify_icon(NotifyIconOperation operation, const NotifyIconRecord& record) {
    NOTIFYICONDATAW data{};
    data.cbSize = NOTIFYICONDATAW_V1_SIZE;  // the first form: window, id, flags, message, icon, tip
    data.hWnd = reinterpret_cast<HWND>(record.window);
    data.uID = record.id;
    data.uFlags = record.flags;
    data.uCallbackMessage = record.callback_message;
    data.hIcon = picture_icon(record.picture, true);
    const std::wstring tip = to_wide(record.tip).substr(0, kNotifyTipChars);
    tip.copy(data.szTip, tip.size());
    const DWORD message = operation == NotifyIconOperation::add      ? NIM_ADD
                          : operation == NotifyIconOperation::modify ? NIM_MODIFY
                                                                     : NIM_DELETE;
    SetLastError(0);
    if (Shell_NotifyIconW(message, &data)) return true;
    set_error(GetLastError(), "The shell refused the notification icon");
    return false;
}

bool message_box(intptr_t owner, const std::string& title, const std::string& text, MessageButtons buttons,
                 MessageIcon icon) {
    UINT type = buttons == MessageButtons::yes_no ? MB_YESNO : MB_OK;
    switch (icon) {
    case MessageIcon::information: type |= MB_ICONINFORMATION; break;
    case MessageIcon::warning: type |= MB_ICONWARNING; break;
    case MessageIcon::error: type |= MB_ICONERROR; break;
    case MessageIcon::none: break;
    }
    ModalPump pump;
    const int answer = MessageBoxW(reinterpret_cast<HWND>(owner), to_wide(text).c_str(), to_wide(title).c_str(), type | MB_SETFOREGROUND);
    return answer == IDOK || answer == IDYES;
}

std::optional<std::string> input_box(intptr_t owner, const std::string& title, const std::string& prompt,
                                     const std::string& initial) {
    DialogTemplate dialog(DS_MODALFRAME | DS_SHELLFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU, 212, 74,
                          to_wide(title), 4);
    dialog.item(SS_LEFT | SS_NOPREFIX, 7, 7, 198, 20, kPromptId, kStaticAtom, L"");
    dialog.item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 31, 198, 13, kEntryId, kEditAtom, L"");
    dialog.item(BS_DEFPUSHBUTTON | WS_TABSTOP, 101, 53, 50, 14, IDOK, kButtonAtom, L"OK");
    dialog.item(BS_PUSHBUTTON | WS_TABSTOP, 155, 53, 50, 14, IDCANCEL, kButtonAtom, L"Cancel");
    InputState state{to_wide(prompt), to_wide(initial)};
    ModalPump pump;
    const INT_PTR answer = DialogBoxIndirectParamW(instance(), dialog.get(), reinterpret_cast<HWND>(owner), input_proc,
                                                   reinterpret_cast<LPARAM>(&state));
    if (answer != IDOK) return std::nullopt;
    return to_utf8(state.text);
}

bool open_document(const std::string& path) {
    const std::wstring file = to_wide(path);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The module says itself what went wrong: no box of the shell's own.
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return true;
    set_error(GetLastError(), "The document could not be opened");
    return false;
}

} // namespace ktr::platform
