// A console request over TCP may arrive in pieces. It is acted on only once it is a whole command form,
// or once the rest has had a short, bounded time to come; a request is never read from a piece of itself.
#pragma once

#include <cstdint>
#include <string_view>

namespace ktr::server {

enum class RequestForm {
    whole,      // every field of its command is there: act now
    partial,    // more is due: wait for it, at most kAssemblyLimitMs
    free_text,  // its end cannot be told from the text: act once nothing more has come for kQuietMs
};

// How long a partial request waits for its rest, from its first piece; and the pause that ends free text.
inline constexpr int32_t kAssemblyLimitMs = 250;
inline constexpr int32_t kQuietMs = 40;

// Judges the text received so far on one connection.
RequestForm request_form(std::string_view text);

} // namespace ktr::server
