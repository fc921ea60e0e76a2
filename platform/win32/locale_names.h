// The date and time conventions of a locale the system knows by name.
#pragma once

#include <optional>

#include "platform/locale.h"

namespace ktr::platform {

// The conventions of the locale named (such as L"de-DE"), or of the user's own for nullptr; nothing when the
// system has no such locale.
std::optional<LocaleInfo> locale_conventions(const wchar_t* name);

} // namespace ktr::platform
