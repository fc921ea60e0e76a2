// frmSvcOptions: the service control window. Four buttons (Start, Stop, Pause, Status) work the module's
// service through the service manager operations, and the status label shows the outcome in the colour
// of the service's state class.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ktr::app {

struct SvcOptionsModel {
    std::string caption;
    std::string status;  // the status label
    uint32_t status_colour = 0;
};

// The operations the buttons use (the real ones unless a test puts its own in): each gives a text and
// leaves the state class in its last argument.
struct ServiceCalls {
    using Operation = std::function<std::string(std::string_view machine, std::string_view service, int16_t&)>;
    Operation status, start, stop, pause, resume;
    ServiceCalls();
};

class frmSvcOptions {
public:
    explicit frmSvcOptions(std::string service);

    ServiceCalls calls;
    // The model changed.
    std::function<void()> on_change;

    const SvcOptionsModel& model() const { return model_; }
    const std::string& service() const { return service_; }

    // Caption, then the service's state.
    void Form_Load();
    // Start continues a paused service; the others do what they say.
    void cmdStart_Click();
    void cmdStop_Click();
    void cmdPause_Click();
    void cmdStatus_Click();

private:
    void show_status(const std::string& text);
    void run(const ServiceCalls::Operation& operation);

    std::string service_;
    SvcOptionsModel model_;
    int16_t class_ = 3;
};

} // namespace ktr::app
