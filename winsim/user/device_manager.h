// The device manager's "Properties" of one device, headless. open() loads the property-page
// provider registered for the device as Windows does: the value "EnumPropPages32" of the
// device's driver key, "dll,function" (e.g. "qelui32.dll,EnumPropPages"). The provider is called
// with an SP_PROPSHEETPAGE_REQUEST for SPPSR_ENUM_ADV_DEVICE_PROPERTIES, the device's
// information set and SP_DEVINFO_DATA, and an add-page function that collects its pages on the
// sheet. The host then looks at the pages (their lParam is the provider's own record) and
// closes the sheet with OK, Apply or Cancel. Closing releases the pages, then destroys the
// device information set and unloads the provider.
#pragma once

#include "user/property_sheet.h"
#include "user/session.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace winsim::user {

struct OpenResult {
    bool ok = false;              // the provider ran (whatever it answered)
    std::string error;            // why not, for a person
    std::string provider;         // "qelui32.dll,EnumPropPages" as registered
    bool provider_result = false; // what the provider returned
};

class DeviceManager {
  public:
    explicit DeviceManager(Session& session);
    // Closes an open sheet with Cancel.
    ~DeviceManager();
    DeviceManager(const DeviceManager&) = delete;
    DeviceManager& operator=(const DeviceManager&) = delete;

    // Opens the device's property sheet (instance path, e.g. "PCI\\VEN_...\\...").
    OpenResult open(const std::string& instance);
    bool is_open() const { return sheet_ != nullptr; }

    // The sheet (pages, their dialogs, OK/Apply/Cancel); nullptr when none is open.
    PropertySheet* sheet() { return sheet_.get(); }
    // The lParam of each page the provider added and the sheet made.
    std::vector<std::intptr_t> page_lparams() const;
    // Refuse pages beyond this many (the add-page function then answers FALSE).
    void set_page_limit(std::size_t limit) { page_limit_ = limit; }

    // Close the sheet as a person does; Apply leaves it open. false when a page kept the
    // sheet open (OK, Cancel) or no sheet is open.
    bool ok();
    bool apply();
    bool cancel();

  private:
    struct Request;
    void finish();

    Session& session_;
    std::unique_ptr<PropertySheet> sheet_;
    std::unique_ptr<Request> request_;
    std::size_t page_limit_ = 100;
};

} // namespace winsim::user
