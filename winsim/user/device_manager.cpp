#include "user/device_manager.h"

#include <setupapi.h>

#include "registry/names.h"
#include "registry/registry.h"
#include "user/api.h"
#include "user/devices.h"

namespace winsim::user {
namespace {

typedef BOOL(WINAPI* ENUMPROPPAGES)(PSP_PROPSHEETPAGE_REQUEST, LPFNADDPROPSHEETPAGE, LPARAM);

std::string trim(std::string text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

BOOL CALLBACK add_page(HPROPSHEETPAGE page, LPARAM context) {
    auto* sheet = reinterpret_cast<PropertySheet*>(context);
    return sheet->add_page(page) ? TRUE : FALSE;
}

} // namespace

// What the provider holds on to while its pages live.
struct DeviceManager::Request {
    HDEVINFO set = nullptr;
    SP_DEVINFO_DATA device{};
    SP_PROPSHEETPAGE_REQUEST request{};
    HMODULE provider = nullptr;
};

DeviceManager::DeviceManager(Session& session) : session_(session) {}

DeviceManager::~DeviceManager() {
    if (sheet_ != nullptr) {
        sheet_->cancel();
        finish();
    }
}

OpenResult DeviceManager::open(const std::string& instance) {
    OpenResult result;
    if (sheet_ != nullptr) {
        result.error = "a property sheet is already open";
        return result;
    }
    const std::optional<DeviceEntry> entry = device_entry(instance);
    if (!entry) {
        result.error = instance + ": no such device";
        return result;
    }
    // The provider: EnumPropPages32 in the device's driver key.
    std::string driver;
    auto key = instance_key(entry->instance);
    if (!key || key->get_string("Driver", driver) != reg::Status::ok || driver.empty()) {
        result.error = instance + ": the device has no driver key";
        return result;
    }
    auto driver_key = session_.registry().open_key(reg::join_key_path(class_root, driver));
    std::string provider;
    if (!driver_key || driver_key->get_string("EnumPropPages32", provider) != reg::Status::ok) {
        result.error = instance + ": no property-page provider is registered (EnumPropPages32)";
        return result;
    }
    result.provider = provider;
    const std::size_t comma = provider.find(',');
    if (comma == std::string::npos) {
        result.error = "EnumPropPages32 \"" + provider + "\" is not \"dll,function\"";
        return result;
    }
    const std::string dll = trim(provider.substr(0, comma));
    const std::string function = trim(provider.substr(comma + 1));

    auto request = std::make_unique<Request>();
    request->provider = LoadLibraryA(dll.c_str());
    if (request->provider == nullptr) {
        result.error = dll + ": " + session_.last_load_error();
        return result;
    }
    // Through void*, as a module's export has no type of its own.
    auto entry_point = reinterpret_cast<ENUMPROPPAGES>(
        reinterpret_cast<void*>(GetProcAddress(request->provider, function.c_str())));
    if (entry_point == nullptr) {
        FreeLibrary(request->provider);
        result.error = dll + " does not export " + function;
        return result;
    }
    DeviceSet set;
    set.devices.push_back(*entry);
    request->set = session_.state().device_sets.add(std::move(set));
    request->device.cbSize = sizeof(SP_DEVINFO_DATA);
    request->device.ClassGuid = entry->class_guid;
    request->device.DevInst = entry->devinst;
    request->request.cbSize = sizeof(SP_PROPSHEETPAGE_REQUEST);
    request->request.PageRequested = SPPSR_ENUM_ADV_DEVICE_PROPERTIES;
    request->request.DeviceInfoSet = request->set;
    request->request.DeviceInfoData = &request->device;

    sheet_ = std::make_unique<PropertySheet>(entry->instance);
    sheet_->set_page_limit(page_limit_);
    request_ = std::move(request);
    result.provider_result =
        entry_point(&request_->request, add_page, reinterpret_cast<LPARAM>(sheet_.get())) != FALSE;
    sheet_->show();
    result.ok = true;
    return result;
}

std::vector<std::intptr_t> DeviceManager::page_lparams() const {
    std::vector<std::intptr_t> out;
    if (sheet_ != nullptr) {
        for (std::size_t i = 0; i < sheet_->created_pages(); ++i) {
            out.push_back(sheet_->page_lparam(i));
        }
    }
    return out;
}

bool DeviceManager::ok() {
    if (sheet_ == nullptr || !sheet_->ok()) {
        return false;
    }
    finish();
    return true;
}

bool DeviceManager::apply() {
    return sheet_ != nullptr && sheet_->apply();
}

bool DeviceManager::cancel() {
    if (sheet_ == nullptr || !sheet_->cancel()) {
        return false;
    }
    finish();
    return true;
}

void DeviceManager::finish() {
    sheet_.reset(); // pages are released while the set and the provider are still there
    if (request_ != nullptr) {
        SetupDiDestroyDeviceInfoList(request_->set);
        FreeLibrary(request_->provider);
        request_.reset();
    }
}

} // namespace winsim::user
