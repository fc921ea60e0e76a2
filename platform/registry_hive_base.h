// What the backends' hives share: the hive's status, the numbering of open keys and the errors every hive
// reports in the same words. For the backends only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry_hive.h"

namespace ktr::platform::detail {

class HiveBase : public RegistryHive {
public:
    int32_t status() const override { return status_; }
    std::string status_text() const override { return status_text_; }
    void close_key(RegKey& key) override { key.handle = 0; }

protected:
    // Each sets the pending error and returns the status it reports.
    static int32_t invalid(int32_t rc);
    static int32_t not_found(const std::string& what);
    static int32_t not_open();
    static int32_t deleted(const RegKey& key);
    // Opens key: the root and path as given and the next number.
    void fill_key(uint32_t root, std::string_view path, RegKey& key);

    int32_t status_ = kRegOk;
    std::string status_text_;

private:
    uint32_t next_handle_ = 1;
};

} // namespace ktr::platform::detail
