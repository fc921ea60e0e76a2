// The serial-port control's properties as every backend keeps them: the backends' state derives from it.
// For the serial backends only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/serial_port.h"

namespace ktr::platform::detail {

struct SerialState {
    int16_t comm_port = 1;
    std::string settings = "9600,N,8,1";
    SerialLine line;
    std::string in_buffer;
    int16_t input_len = 0;
    int16_t input_mode = 0;
    int16_t handshaking = 0;
    bool dtr = false;
    bool rts = false;
    int16_t r_threshold = 0;
    int16_t s_threshold = 0;
    int16_t comm_event = 0;
    std::function<void()> on_comm;

    void raise(int16_t code) {
        comm_event = code;
        if (on_comm) on_comm();
    }
};

} // namespace ktr::platform::detail
