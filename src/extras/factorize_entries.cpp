// factorize(composite, codebooks, max_iter=50) and
// factorize_reliably(composite, codebooks, max_iter=50).
#include <array>

#include "../core/phase_resonator/reliable_search.hpp"
#include "../module/signal_check.hpp"
#include "call_helpers.hpp"
#include "entries.hpp"

namespace verrakin::extras {
namespace {

constexpr std::array<const char*, 3> kParameters{"composite", "codebooks", "max_iter"};
constexpr CallSignature kFactorizeSignature{nullptr, "factorize", kParameters, 2, 0, {}};
constexpr CallSignature kReliableSignature{nullptr, "factorize_reliably", kParameters, 2, 0, {}};
constexpr std::uint64_t kDefaultMaxIter = 50;

// The arguments as resonator_factorize converts them, in the same order.
struct FactorizeCall {
    SharedAccess composite;
    std::vector<Codebook> codebooks;
    std::uint64_t max_iter = kDefaultMaxIter;
};

PyResult<Ok> bind_call(const CallSignature& signature, PyObject* args, PyObject* kwargs, ElementHolds& holds,
                       FactorizeCall& call) {
    std::array<PyRef, 3> slots;
    VK_TRY(extract_arguments(signature, args, kwargs, slots));
    VK_TRY_ASSIGN(call.composite, for_argument("composite", to_phase_hvec(slots[0].get())));
    VK_TRY_ASSIGN(call.codebooks, for_argument("codebooks", extract_vector_lists(slots[1].get(), holds)));
    if (slots[2]) VK_TRY_ASSIGN(call.max_iter, for_argument("max_iter", to_u64(slots[2].get())));
    return Ok{};
}

PyRef tuple_of(std::initializer_list<PyRef*> items) {
    PyRef tuple = expect_new(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    Py_ssize_t i = 0;
    for (PyRef* item : items) PyTuple_SetItem(tuple.get(), i++, item->release());
    return tuple;
}

}  // namespace

PyObject* factorize(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        ElementHolds holds;  // outlives the records that read the entries in place
        FactorizeCall call;
        VK_TRY(bind_call(kFactorizeSignature, args, kwargs, holds, call));
        SignalCheck signals;  // Ctrl-C stops it between factor updates, as resonator_factorize
        auto outcome = verrakin::factorize(call.composite.record(), call.codebooks, call.max_iter, signals.check());
        if (!outcome) return unexpected(signals.take());
        const std::vector<FactorResult>& results = outcome.value();
        // Every result carries the call's sweep count and convergence; no factors, no sweeps.
        const std::uint64_t sweeps = results.empty() ? 0 : results.front().iterations;
        const bool converged = !results.empty() && results.front().converged;
        PyRef list = factor_result_list(results);
        PyRef sweeps_object = expect_new(PyLong_FromUnsignedLongLong(sweeps));
        PyRef converged_object = PyRef::borrow(converged ? Py_True : Py_False);
        return tuple_of({&list, &sweeps_object, &converged_object});
    });
}

PyObject* factorize_reliably(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        ElementHolds holds;
        FactorizeCall call;
        VK_TRY(bind_call(kReliableSignature, args, kwargs, holds, call));
        SignalCheck signals;
        auto outcome =
            verrakin::factorize_reliably(call.composite.record(), call.codebooks, call.max_iter, signals.check());
        if (!outcome) return unexpected(signals.take(outcome.error()));
        ReliableAnswer answer = std::move(outcome).value();
        PyRef list = factor_result_list(answer.results);
        PyRef calls = expect_new(PyLong_FromUnsignedLongLong(answer.calls));
        return tuple_of({&list, &calls});
    });
}

}  // namespace verrakin::extras
