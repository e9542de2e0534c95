// similarities(query, vectors), best_match(query, vectors) and
// similarity_matrix(queries, vectors): many similarity() calls in one.
#include <array>

#include "../core/batch/batch_similarity.hpp"
#include "../module/signal_check.hpp"
#include "call_helpers.hpp"
#include "buffer_export.hpp"
#include "entries.hpp"

namespace verrakin::extras {
namespace {

constexpr std::array<const char*, 2> kQueryParameters{"query", "vectors"};
constexpr std::array<const char*, 2> kMatrixParameters{"queries", "vectors"};
constexpr CallSignature kSimilaritiesSignature{nullptr, "similarities", kQueryParameters, 2, 0, {}};
constexpr CallSignature kBestMatchSignature{nullptr, "best_match", kQueryParameters, 2, 0, {}};
constexpr CallSignature kMatrixSignature{nullptr, "similarity_matrix", kMatrixParameters, 2, 0, {}};

// The query under shared access and the vectors read in place, shapes checked.
struct QueryAndVectors {
    SharedAccess query;
    std::vector<PhaseHVec> vectors;
};

PyResult<Ok> bind_query(const CallSignature& signature, PyObject* args, PyObject* kwargs, ElementHolds& holds,
                        QueryAndVectors& out) {
    std::array<PyRef, 2> slots;
    VK_TRY(extract_arguments(signature, args, kwargs, slots));
    VK_TRY_ASSIGN(out.query, for_argument("query", to_phase_hvec(slots[0].get())));
    VK_TRY_ASSIGN(out.vectors, for_argument("vectors", extract_vector_list(slots[1].get(), holds)));
    return check_shapes(out.query.record(), out.vectors);
}

// Ctrl-C stops a long batch between blocks of entries (see SignalCheck).
PyResult<std::vector<double>> similarities_of(const QueryAndVectors& call) {
    std::vector<double> out(call.vectors.size());
    SignalCheck signals;
    if (!batch_similarities(call.query.record(), call.vectors, out.data(), signals.check())) {
        return unexpected(signals.take());
    }
    return out;
}

}  // namespace

PyObject* similarities(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        ElementHolds holds;
        QueryAndVectors call;
        VK_TRY(bind_query(kSimilaritiesSignature, args, kwargs, holds, call));
        std::vector<double> values;
        VK_TRY_ASSIGN(values, similarities_of(call));
        PyRef list = expect_new(PyList_New(static_cast<Py_ssize_t>(values.size())));
        for (std::size_t j = 0; j < values.size(); ++j) {
            PyList_SetItem(list.get(), static_cast<Py_ssize_t>(j), new_float(values[j]).release());
        }
        return list;
    });
}

// The tie rule: among equal similarities the lowest index wins.
PyObject* best_match(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        ElementHolds holds;
        QueryAndVectors call;
        VK_TRY(bind_query(kBestMatchSignature, args, kwargs, holds, call));
        if (call.vectors.empty()) {
            return unexpected(
                PendingException::lazy(PyExc_ValueError, "best_match() arg 'vectors' is an empty sequence"));
        }
        std::vector<double> values;
        VK_TRY_ASSIGN(values, similarities_of(call));
        std::size_t best = 0;
        for (std::size_t j = 1; j < values.size(); ++j) {
            if (values[j] > values[best]) best = j;
        }
        PyRef index = expect_new(PyLong_FromSize_t(best));
        PyRef value = new_float(values[best]);
        PyRef pair = expect_new(PyTuple_New(2));
        PyTuple_SetItem(pair.get(), 0, index.release());
        PyTuple_SetItem(pair.get(), 1, value.release());
        return pair;
    });
}

// The result is a writable memoryview of doubles, shape (queries, vectors), over
// a bytearray the rows are written into (see buffer_export.cpp).
PyObject* similarity_matrix(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        std::array<PyRef, 2> slots;
        VK_TRY(extract_arguments(kMatrixSignature, args, kwargs, slots));
        ElementHolds holds;
        std::vector<PhaseHVec> queries;
        VK_TRY_ASSIGN(queries, for_argument("queries", extract_vector_list(slots[0].get(), holds)));
        std::vector<PhaseHVec> vectors;
        VK_TRY_ASSIGN(vectors, for_argument("vectors", extract_vector_list(slots[1].get(), holds)));
        for (const PhaseHVec& query : queries) VK_TRY(check_shapes(query, vectors));
        const std::size_t rows = queries.size(), columns = vectors.size();
        if (columns != 0 && rows > PY_SSIZE_T_MAX / 8 / columns) throw OutOfMemory("a similarity matrix");
        PyRef storage = expect_new(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(rows * columns * 8)));
        auto* out = reinterpret_cast<double*>(PyByteArray_AsString(storage.get()));
        SignalCheck signals;
        if (!batch_similarity_matrix(queries, vectors, out, signals.check())) return unexpected(signals.take());
        return matrix_view(std::move(storage), static_cast<Py_ssize_t>(rows), static_cast<Py_ssize_t>(columns));
    });
}

}  // namespace verrakin::extras
