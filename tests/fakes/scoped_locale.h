// Puts fixed date conventions in place for one test and restores the previous ones afterwards.
#pragma once

#include "fakes/scoped_env.h"
#include "platform/locale.h"

namespace ktr::testing {

struct ScopedLocale : OnScopeEnd {
    explicit ScopedLocale(const platform::LocaleInfo& info)
        : OnScopeEnd([saved = platform::current_locale()] { platform::set_locale(saved); }) {
        platform::set_locale(info);
    }
};

} // namespace ktr::testing
