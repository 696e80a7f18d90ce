// Tells what happens in the simulated machine, one line per Plug and Play event.
#pragma once

#include "pnp/pnp_manager.h"

#include <ostream>

namespace qelsim {

class Narrator {
  public:
    explicit Narrator(std::ostream& out) : out_(out) {}

    // Silent narrators drop every event; a tracing one also tells the single requests ("irp",
    // "power").
    void setSilent(bool silent) { silent_ = silent; }
    void setTrace(bool trace) { trace_ = trace; }

    void operator()(const winsim::pnp::Event& event) const;

  private:
    std::ostream& out_;
    bool silent_ = false;
    bool trace_ = false;
};

} // namespace qelsim
