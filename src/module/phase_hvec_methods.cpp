// PhaseHVec.random, bind, unbind, similarity, bundle, phases(), dim, n and repr.
#include "phase_hvec_methods.hpp"

#include <array>
#include <string>

#include "../core/platform/compiler.hpp"
#include "../core/phase_hvec/algebra.hpp"
#include "../core/phase_hvec/bundle.hpp"
#include "../core/phase_hvec/generator.hpp"
#include "binder.hpp"
#include "convert.hpp"
#include "signal_check.hpp"

namespace verrakin {
namespace {

constexpr std::array<const char*, 3> kRandomParameters{"dim", "n", "seed"};
constexpr std::array<const char*, 1> kOtherParameter{"other"};
constexpr std::array<const char*, 1> kItemsParameter{"items"};

constexpr CallSignature kRandomSignature{"PhaseHVec", "random", kRandomParameters, 3, 0, {}};
constexpr CallSignature kBindSignature{"PhaseHVec", "bind", kOtherParameter, 1, 0, {}};
constexpr CallSignature kUnbindSignature{"PhaseHVec", "unbind", kOtherParameter, 1, 0, {}};
constexpr CallSignature kSimilaritySignature{"PhaseHVec", "similarity", kOtherParameter, 1, 0, {}};
constexpr CallSignature kBundleSignature{"PhaseHVec", "bundle", kItemsParameter, 1, 0, {}};

template <class T>
PyResult<T> from_core(Expected<T, PhaseError> result) {
    if (!result) return unexpected(PendingException::from(result.error()));
    return std::move(result).value();
}

// Binds `other`, takes shared access to self and other, runs `operation`.
template <class Operation>
CallResult binary_method(const CallSignature& signature, PyObject* self, PyObject* args, PyObject* kwargs,
                         Operation operation) {
    std::array<PyRef, 1> slots;
    VK_TRY(extract_arguments(signature, args, kwargs, slots));
    SharedAccess a;
    VK_TRY_ASSIGN(a, SharedAccess::take(self));
    SharedAccess b;
    VK_TRY_ASSIGN(b, for_argument("other", to_phase_hvec(slots[0].get())));
    return operation(a.record(), b.record());
}

CallResult wrap_core(Expected<PhaseHVec, PhaseError> result) {
    if (!result) return unexpected(PendingException::from(result.error()));
    return wrap(std::move(result).value());
}

// The computations, out of line: an entry's frame is on the stack while its
// arguments' conversions call back into Python, and recursion through it must
// stay cheap.
VK_NOINLINE CallResult random_result(std::uint64_t dim, std::uint32_t n, std::uint64_t seed) {
    SignalCheck signals;
    auto record = random_vector(dim, n, seed, signals.check());
    if (!record) return unexpected(signals.take(record.error()));
    return wrap(std::move(record).value());
}

VK_NOINLINE CallResult bundle_result(const std::vector<PhaseHVec>& items) {
    SignalCheck signals;
    auto record = bundle(items, signals.check());
    if (!record) return unexpected(signals.take(record.error()));
    return wrap(std::move(record).value());
}

}  // namespace

PyObject* phasehvec_random(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        std::array<PyRef, 3> slots;
        VK_TRY(extract_arguments(kRandomSignature, args, kwargs, slots));
        std::uint64_t dim = 0;
        VK_TRY_ASSIGN(dim, for_argument("dim", to_u64(slots[0].get())));
        std::uint32_t n = 0;
        VK_TRY_ASSIGN(n, for_argument("n", to_u32(slots[1].get())));
        std::uint64_t seed = 0;
        VK_TRY_ASSIGN(seed, for_argument("seed", to_u64(slots[2].get())));
        return random_result(dim, n, seed);
    });
}

PyObject* phasehvec_bind(PyObject* self, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        return binary_method(kBindSignature, self, args, kwargs,
                             [](const PhaseHVec& a, const PhaseHVec& b) { return wrap_core(bind(a, b)); });
    });
}

PyObject* phasehvec_unbind(PyObject* self, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        return binary_method(kUnbindSignature, self, args, kwargs,
                             [](const PhaseHVec& a, const PhaseHVec& b) { return wrap_core(unbind(a, b)); });
    });
}

PyObject* phasehvec_similarity(PyObject* self, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        return binary_method(kSimilaritySignature, self, args, kwargs,
                             [](const PhaseHVec& a, const PhaseHVec& b) -> CallResult {
                                 double value = 0.0;
                                 VK_TRY_ASSIGN(value, from_core(similarity(a, b)));
                                 return expect_new(PyFloat_FromDouble(value));
                             });
    });
}

PyObject* phasehvec_bundle(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        std::array<PyRef, 1> slots;
        VK_TRY(extract_arguments(kBundleSignature, args, kwargs, slots));
        ElementHolds holds;  // outlives the records that read the items in place
        std::vector<PhaseHVec> items;
        VK_TRY_ASSIGN(items, for_argument("items", extract_vector_list(slots[0].get(), holds)));
        return bundle_result(items);
    });
}

PyObject* phasehvec_phases(PyObject* self, PyObject*) {
    return entry_point([&]() -> CallResult {
        SharedAccess access;
        VK_TRY_ASSIGN(access, SharedAccess::take(self));
        // The record cannot change while the access is held, so it is read in place.
        const PhaseArray& levels = access->phases;
        PyRef list = expect_new(PyList_New(static_cast<Py_ssize_t>(levels.size())));
        const std::uint16_t* data = levels.data();
        SignalCheck signals;
        CancelPacer pacer(signals.check());
        for (std::uint64_t i = 0; i < levels.size(); ++i) {
            PyRef item = expect_new(PyLong_FromLong(data[i]));
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release());
            if (pacer.after(1)) return unexpected(signals.take());
        }
        return list;
    });
}

PyObject* phasehvec_repr(PyObject* self) {
    return entry_point([&]() -> CallResult {
        SharedAccess access;
        VK_TRY_ASSIGN(access, SharedAccess::take(self));
        const std::string text =
            "PhaseHVec(dim=" + std::to_string(access->dim) + ", n=" + std::to_string(access->n) + ")";
        return expect_new(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    });
}

PyObject* phasehvec_get_dim(PyObject* self, void*) {
    return entry_point([&]() -> CallResult {
        SharedAccess access;
        VK_TRY_ASSIGN(access, SharedAccess::take(self));
        return expect_new(PyLong_FromUnsignedLongLong(access->dim));
    });
}

PyObject* phasehvec_get_n(PyObject* self, void*) {
    return entry_point([&]() -> CallResult {
        SharedAccess access;
        VK_TRY_ASSIGN(access, SharedAccess::take(self));
        return expect_new(PyLong_FromUnsignedLongLong(access->n));
    });
}

}  // namespace verrakin
