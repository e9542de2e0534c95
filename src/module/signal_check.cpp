#include "signal_check.hpp"

namespace verrakin {

bool SignalCheck::poll(void* self) {
    auto* check = static_cast<SignalCheck*>(self);
    if (PyErr_CheckSignals() == 0) return false;
    // The handler's exception is taken at once: nothing below the entry point
    // leaves an exception set.
    check->raised_ = take_exception();
    return true;
}

PendingException SignalCheck::take() {
    if (raised_) {
        PendingException error = std::move(*raised_);
        raised_.reset();
        return error;
    }
    fatal_error("a computation stopped without a raised signal handler");
}

PendingException SignalCheck::take(const PhaseFailure& failure) {
    if (const auto* error = std::get_if<PhaseError>(&failure)) return PendingException::from(*error);
    return take();
}

}  // namespace verrakin
