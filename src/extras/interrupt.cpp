// Interrupting long calls: the signal handlers run between blocks of work.
#include "call_helpers.hpp"

namespace verrakin::extras {

void poll_interrupt() {
    if (PyErr_CheckSignals() != 0) throw Interrupted{take_exception()};
}

}  // namespace verrakin::extras
