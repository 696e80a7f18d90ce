#include "narrator.h"

#include <iomanip>

namespace qelsim {

namespace {

// Wide enough for the longest kind of event ("surprise-removed").
constexpr int kind_width = 16;

} // namespace

void Narrator::operator()(const winsim::pnp::Event& event) const {
    // Single requests ("irp", and the power requests that `power` lists anyway) only when
    // tracing.
    if (silent_ || ((event.kind == "irp" || event.kind == "power") && !trace_)) {
        return;
    }
    out_ << "  " << std::left << std::setw(kind_width) << event.kind << std::right << " "
         << event.text;
    if (!event.instance.empty() && event.text.find(event.instance) == std::string::npos) {
        out_ << " [" << event.instance << "]";
    }
    out_ << "\n";
}

} // namespace qelsim
