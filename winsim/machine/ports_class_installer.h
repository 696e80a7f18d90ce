// The Ports class installer of the simulated Windows: what Windows does when a serial port device
// is installed. It claims the lowest free COM number from COM3 up in the COM port database and
// writes "PORTNAME" = "COMn" into the port's "Device Parameters" key and "FRIENDLYNAME" =
// "<description> (COMn)" into its instance key. A port that has a "PortName" already keeps it
// (its number is claimed again if it is a COM name). FIFO values are not written: the port
// driver's defaults apply.
#pragma once

#include "registry/registry.h"

#include <optional>
#include <string>
#include <string_view>

namespace winsim::machine {

inline constexpr std::string_view ports_class_name = "Ports";
// COM1 and COM2 belong to the machine's own ports.
inline constexpr unsigned first_card_com_number = 3;
// The most COM names the database can arbitrate (it grows from 256 to this many).
inline constexpr unsigned max_com_number = 4096;

// Installs the port with this device instance path; the port's COM name, or nothing when the
// port has no instance key or every COM number is taken.
std::optional<std::string> installPort(reg::Registry& registry, const std::string& instance);

// The number n of a name "COMn" (any case; n from 1 to max_com_number), else nothing.
std::optional<unsigned> comNumberOf(std::string_view name);

} // namespace winsim::machine
