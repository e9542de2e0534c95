// Cancellation of long computations by their caller.
//
// The core knows nothing of who asks it to stop: a caller hands in a check,
// which long computations poll between units of work (resonator sweeps and
// factor updates, blocks of a bundle, chunks of generated levels). When the
// check asks to stop, the computation returns `Cancelled` and no result.
// Polling changes nothing of what is computed.
#pragma once

#include <cstdint>

namespace verrakin {

/// The error value of a computation stopped by its caller's check.
struct Cancelled {};

/// A caller's check, not owned: `poll(context)` returns true to stop the
/// computation. The default check never stops anything.
struct CancelCheck {
    bool (*poll)(void* context) = nullptr;
    void* context = nullptr;

    bool requested() const { return poll != nullptr && poll(context); }
};

/// Polls a check about once per kPollWork units of work (a level read, written
/// or looked up), a few milliseconds apart, whatever the size of each step.
class CancelPacer {
public:
    static constexpr std::uint64_t kPollWork = std::uint64_t{1} << 22;

    explicit CancelPacer(const CancelCheck& check) noexcept : check_(check) {}

    /// Counts `work` units done since the last call; true when the check,
    /// polled if enough work has been done, asks to stop.
    bool after(std::uint64_t work) {
        done_ += work;
        if (done_ < kPollWork) return false;
        done_ = 0;
        return check_.requested();
    }

private:
    const CancelCheck& check_;
    std::uint64_t done_ = 0;
};

}  // namespace verrakin
