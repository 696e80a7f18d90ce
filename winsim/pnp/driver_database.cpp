#include "pnp/driver_database.h"

#include <algorithm>
#include <cctype>

namespace winsim::pnp {

namespace {

bool sameId(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

} // namespace

DriverDatabase::DriverDatabase() {
    add({"ACPI\\PNP0A03", "pci", "System", "{4D36E97D-E325-11CE-BFC1-08002BE10318}",
         "System devices", "(Standard system devices)", "PCI bus"});
    add({"PCI\\VEN_5145&DEV_4C01", "qelmf", "MultiPortSerial",
         "{50906CB8-BA12-11D1-BF5D-0000F805F530}", "Multi-port serial adapters", "QEL",
         "PCI multi-port serial card"});
    add({"QEL_CARD\\SERIAL", "qelser", "Ports", "{4D36E978-E325-11CE-BFC1-08002BE10318}",
         "Ports (COM & LPT)", "QEL", "PCI serial port"});
}

void DriverDatabase::add(DriverPackage package) {
    auto same = std::find_if(packages_.begin(), packages_.end(), [&](const DriverPackage& p) {
        return sameId(p.hardwareId, package.hardwareId);
    });
    if (same != packages_.end()) {
        *same = std::move(package);
    } else {
        packages_.push_back(std::move(package));
    }
}

const DriverPackage* DriverDatabase::match(const std::vector<std::string>& hardwareIds,
                                           const std::vector<std::string>& compatibleIds) const {
    for (const auto* ids : {&hardwareIds, &compatibleIds}) {
        for (const std::string& id : *ids) {
            for (const DriverPackage& package : packages_) {
                if (sameId(package.hardwareId, id)) {
                    return &package;
                }
            }
        }
    }
    return nullptr;
}

} // namespace winsim::pnp
