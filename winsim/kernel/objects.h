// The object manager: driver objects and device objects, their names, reference counts and
// device stacks.
//
// A device object is created with one reference, which IoDeleteDevice drops. ObReferenceObject
// adds one, and so does each device attached directly on top of it (until IoDetachDevice). The
// memory (the DEVICE_OBJECT and its separately allocated extension) is released only when the
// object has been deleted and its last reference is gone, so AddressSanitizer catches a driver
// that touches a device after that.
#pragma once

#include "wdm.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace winsim::kernel {

class Verifier;
struct DeviceRecord;

struct DriverRecord {
    DRIVER_OBJECT object{};
    DRIVER_EXTENSION extension{};
    std::string service; // "qelmf"
    std::string name;    // "\Driver\qelmf"
    std::vector<WCHAR> serviceText;
    std::vector<WCHAR> nameText;
    bool loaded = false; // DriverEntry succeeded and the driver is not unloaded
    long references = 0; // ObReferenceObject on the driver object
};

// What the power manager keeps per device object.
struct DevicePower {
    SYSTEM_POWER_STATE system = PowerSystemUnspecified;
    DEVICE_POWER_STATE device = PowerDeviceUnspecified;
};

} // namespace winsim::kernel

// The system's private part of a device object, reached from DEVICE_OBJECT::DeviceObjectExtension.
struct _DEVOBJ_EXTENSION {
    CSHORT Type;
    USHORT Size;
    PDEVICE_OBJECT DeviceObject;
    winsim::kernel::DeviceRecord* Record;
};

namespace winsim::kernel {

struct DeviceRecord {
    DEVICE_OBJECT object{};
    _DEVOBJ_EXTENSION system{};
    void* extension = nullptr; // the driver's device extension, a heap block of its own
    DriverRecord* driver = nullptr;
    std::string name;    // "" when unnamed
    long references = 1; // see the header comment
    bool deleted = false;
    PDEVICE_OBJECT attachedTo = nullptr; // the device this one sits on
    DevicePower power;
};

// A snapshot of a device object's system state.
struct DeviceInfo {
    DriverRecord* driver = nullptr;
    std::string name;
    long references = 0;
    bool deleted = false;
    PDEVICE_OBJECT attachedTo = nullptr;
};

class ObjectManager {
  public:
    explicit ObjectManager(Verifier& verifier);
    ~ObjectManager(); // releases every object left
    ObjectManager(const ObjectManager&) = delete;
    ObjectManager& operator=(const ObjectManager&) = delete;

    // Driver objects. createDriver gives nullptr when the service already has one.
    DriverRecord* createDriver(std::string_view service);
    void destroyDriver(DriverRecord* driver); // only once it has no device objects in memory
    DriverRecord* driverRecord(PDRIVER_OBJECT object) const;
    DriverRecord* findDriver(std::string_view service) const;

    // Device objects (the I/O manager's routines of the same names).
    NTSTATUS createDevice(DriverRecord* driver, ULONG extensionSize,
                          std::optional<std::string> name, ULONG type, ULONG characteristics,
                          bool exclusive, PDEVICE_OBJECT* out);
    void deleteDevice(PDEVICE_OBJECT device);
    PDEVICE_OBJECT attach(PDEVICE_OBJECT source, PDEVICE_OBJECT target);
    void detach(PDEVICE_OBJECT target);
    PDEVICE_OBJECT attachedReference(PDEVICE_OBJECT device);
    void reference(PVOID object);
    void dereference(PVOID object);

    // Queries. A device is "live" while its memory exists (deleted or not).
    std::optional<DeviceInfo> device(PDEVICE_OBJECT device) const;
    bool isLive(PDEVICE_OBJECT device) const;
    PDEVICE_OBJECT top(PDEVICE_OBJECT device) const; // nullptr for an unknown device
    PDEVICE_OBJECT findByName(std::string_view name) const;
    std::vector<PDEVICE_OBJECT> devicesOf(const DriverRecord* driver) const; // in memory
    std::size_t liveDevices() const;
    // Runs `f` on the device's power record under the object lock; false for an unknown device.
    bool withPower(PDEVICE_OBJECT device, const std::function<void(DevicePower&)>& f);

    // Records DeviceLeak / ReferenceLeak for device objects still in memory (of one driver, or of
    // all when `driver` is nullptr). Returns their number.
    std::size_t reportLeaks(const DriverRecord* driver, const std::string& context) const;

  private:
    DeviceRecord* find(PDEVICE_OBJECT device) const;                              // lock held
    void dropReference(DeviceRecord* record, std::vector<DeviceRecord*>& toFree); // lock held
    static void release(DeviceRecord* record);                                    // lock not held

    Verifier& verifier_;
    mutable std::mutex lock_;
    std::unordered_map<PDEVICE_OBJECT, DeviceRecord*> devices_;
    std::unordered_set<PDEVICE_OBJECT> freed_;                 // released and not handed out again
    std::map<std::string, PDEVICE_OBJECT, std::less<>> names_; // upper-cased names
    std::vector<std::unique_ptr<DriverRecord>> drivers_;
    std::uint32_t autoName_ = 0;
};

} // namespace winsim::kernel
