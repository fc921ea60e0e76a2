// What the Windows backend's files share: handles and sockets inside opaque handles, UTF-8 <-> UTF-16 at the
// API boundary, system error numbers into the pending error, and Winsock started once per process.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/handle.h"

namespace ktr::platform {

// A SOCKET or a kernel HANDLE travels as its value; INVALID_SOCKET, INVALID_HANDLE_VALUE and a null handle
// all become "no object".
inline SOCKET socket_of(OsHandle handle) { return static_cast<SOCKET>(handle.value); }
inline OsHandle os_handle(SOCKET s) { return OsHandle{s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s)}; }
inline HANDLE kernel_handle_of(OsHandle handle) { return reinterpret_cast<HANDLE>(handle.value); }
inline OsHandle os_handle(HANDLE h) {
    return OsHandle{h == nullptr || h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h)};
}

// UTF-8 <-> UTF-16; text that does not convert comes back empty.
std::wstring to_wide(std::string_view utf8);
std::string to_utf8(std::wstring_view wide);

// The system's message for an error number (Win32 or Winsock), without the trailing line end; "Error <n>"
// when the system has none.
std::string system_error_text(unsigned long number);
// Fills the pending-error record from a Win32 error (number = the error, description = its message).
void set_pending_error_from_system(unsigned long number);
inline void set_pending_error_from_last_error() { set_pending_error_from_system(GetLastError()); }
// The same for Winsock errors; WSAGetLastError when no number is given.
inline void set_pending_error_from_wsa(int number) { set_pending_error_from_system(static_cast<unsigned long>(number)); }
inline void set_pending_error_from_wsa() { set_pending_error_from_wsa(WSAGetLastError()); }

// The sockets the socket component made, which the pump knows without asking the system in every round.
// The component notes each socket it makes and forgets it before closing it; the pump's thread only.
void note_socket(SOCKET s);
void forget_socket(SOCKET s);

// How many modal boxes (message boxes, the input box) are open on the pump's thread. Their own message loops
// dispatch the window messages meanwhile; the pump, run from a box's timer so that the module goes on
// serving, leaves those messages to them.
extern int g_modal_boxes;

// A terminate request posted to the pump's thread as WM_CLOSE (another program's way to ask this one to
// end): handed to the pump, which dispatches it on its next round.
void request_stop_by_message();

// Starts Winsock once for the whole process (every socket call goes through it first); false (pending
// error filled) when the system refuses.
bool ensure_winsock();

} // namespace ktr::platform
