// resonator_factorize(composite, codebooks, max_iter=50)
#include <array>

#include "../core/phase_resonator/factorize.hpp"
#include "../core/platform/compiler.hpp"
#include "binder.hpp"
#include "convert.hpp"
#include "phase_hvec_methods.hpp"
#include "signal_check.hpp"

namespace verrakin {
namespace {

constexpr std::array<const char*, 3> kParameters{"composite", "codebooks", "max_iter"};
constexpr CallSignature kSignature{nullptr, "resonator_factorize", kParameters, 2, 0, {}};
constexpr std::uint64_t kDefaultMaxIter = 50;

// Out of line: the entry's frame is on the stack while the arguments'
// conversions call back into Python, and recursion through it must stay cheap.
VK_NOINLINE CallResult factorize_result(const PhaseHVec& composite, const std::vector<Codebook>& codebooks,
                                              std::uint64_t max_iter) {
    SignalCheck signals;
    auto results = factorize(composite, codebooks, max_iter, signals.check());
    if (!results) return unexpected(signals.take());
    return factor_result_list(results.value());
}

}  // namespace

PyObject* resonator_factorize(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        std::array<PyRef, 3> slots;
        VK_TRY(extract_arguments(kSignature, args, kwargs, slots));
        SharedAccess composite;
        VK_TRY_ASSIGN(composite, for_argument("composite", to_phase_hvec(slots[0].get())));
        ElementHolds holds;  // outlives the records that read the entries in place
        std::vector<Codebook> codebooks;
        VK_TRY_ASSIGN(codebooks, for_argument("codebooks", extract_vector_lists(slots[1].get(), holds)));
        std::uint64_t max_iter = kDefaultMaxIter;
        if (slots[2]) {
            VK_TRY_ASSIGN(max_iter, for_argument("max_iter", to_u64(slots[2].get())));
        }
        return factorize_result(composite.record(), codebooks, max_iter);
    });
}

}  // namespace verrakin
