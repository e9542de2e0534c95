// The interpreter's pending signals as the core's cancellation check.
#pragma once

#include <optional>

#include "../core/cancel.hpp"
#include "pending_exception.hpp"

namespace verrakin {

/// Runs the interpreter's signal handlers (with the lock held) whenever a long
/// computation polls its check; a handler that raises, as the default SIGINT
/// handler does with KeyboardInterrupt, stops the computation, and its
/// exception is kept here for the entry point to raise. One per call.
class SignalCheck {
public:
    SignalCheck() = default;
    SignalCheck(const SignalCheck&) = delete;
    SignalCheck& operator=(const SignalCheck&) = delete;

    /// The check to hand to the core; valid while this object lives.
    CancelCheck check() noexcept { return {&poll, this}; }

    /// The exception of the handler that stopped the computation.
    PendingException take();

    /// A core failure as the exception to raise: a stop as the handler's
    /// exception, a PhaseError as ValueError.
    PendingException take(const PhaseFailure& failure);

private:
    static bool poll(void* self);
    std::optional<PendingException> raised_;
};

}  // namespace verrakin
