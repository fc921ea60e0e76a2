// Puts fixed date conventions in place for one test and restores the previous ones afterwards.
#pragma once

#include "platform/locale.h"

namespace ktr::testing {

class ScopedLocale {
public:
    explicit ScopedLocale(const platform::LocaleInfo& info) : saved_(platform::current_locale()) {
        platform::set_locale(info);
    }
    ~ScopedLocale() { platform::set_locale(saved_); }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

private:
    platform::LocaleInfo saved_;
};

} // namespace ktr::testing
