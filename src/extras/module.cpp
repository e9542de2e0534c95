// The verrakin_extras module: its definition, build_info() and the execution
// slot, which takes the PhaseHVec type from the imported verrakin module.
#include <array>

#include "../core/cpu/isa.hpp"
#include "../core/maths/maths.hpp"
#include "../module/convert.hpp"
#include "../module/init_once.hpp"
#include "call_helpers.hpp"
#include "entries.hpp"
#include "buffer_export.hpp"

#ifndef VERRAKIN_VERSION
#define VERRAKIN_VERSION "unknown"
#endif

namespace verrakin::extras {

namespace {

constexpr const char* kModuleDoc =
    "Companions of verrakin for work done in loops: batch similarity, levels in and out,\n"
    "rotation, factoring with diagnostics. Results are verrakin's own vectors and floats.";

constexpr CallSignature kBuildInfoSignature{nullptr, "build_info", {}, 0, 0, {}};

template <class F>
PyCFunction as_cfunction(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

constexpr int kKeywords = METH_VARARGS | METH_KEYWORDS;

PyMethodDef kFunctions[] = {
    {"similarities", as_cfunction(similarities), kKeywords,
     "similarities(query, vectors)\n--\n\n"
     "`[query.similarity(v) for v in vectors]`, bit for bit, computed many sums at a time."},
    {"best_match", as_cfunction(best_match), kKeywords,
     "best_match(query, vectors)\n--\n\n"
     "`(index, similarity)` of the most similar vector; among equal similarities the lowest index."},
    {"similarity_matrix", as_cfunction(similarity_matrix), kKeywords,
     "similarity_matrix(queries, vectors)\n--\n\n"
     "A memoryview of doubles, shape (len(queries), len(vectors)): row i is\n"
     "`similarities(queries[i], vectors)`. NumPy takes it without a copy."},
    {"from_levels", as_cfunction(from_levels), kKeywords,
     "from_levels(levels, n)\n--\n\n"
     "A PhaseHVec holding `levels` (a sequence of ints or a buffer of integers), each in 0..n-1."},
    {"levels", as_cfunction(levels), kKeywords,
     "levels(v)\n--\n\n"
     "A read-only memoryview (format 'H') over the levels of `v`, without a copy; it keeps `v` alive."},
    {"to_bytes", as_cfunction(to_bytes), kKeywords,
     "to_bytes(v)\n--\n\nThe bytes of `v`: a versioned header (dim, n, checksum) and the levels."},
    {"from_bytes", as_cfunction(from_bytes), kKeywords,
     "from_bytes(data)\n--\n\n"
     "The PhaseHVec that `to_bytes` encoded; ValueError for truncated, corrupted or foreign data."},
    {"permute", as_cfunction(permute), kKeywords,
     "permute(v, shift)\n--\n\n"
     "Rotation like numpy.roll: level i moves to position (i + shift) mod dim."},
    {"factorize", as_cfunction(factorize), kKeywords,
     "factorize(composite, codebooks, max_iter=50)\n--\n\n"
     "`(results, sweeps, converged)`: `results` is what resonator_factorize returns, bit for bit."},
    {"factorize_reliably", as_cfunction(factorize_reliably), kKeywords,
     "factorize_reliably(composite, codebooks, max_iter=50)\n--\n\n"
     "`(results, calls)`: a deterministic search around the resonator that recovers the true\n"
     "entries almost always; `calls` counts the resonator runs it made."},
    {"enable_pickling", as_cfunction(enable_pickling), kKeywords,
     "enable_pickling()\n--\n\n"
     "Lets pickle (and so multiprocessing and Dask) carry PhaseHVec values, through to_bytes."},
    {"build_info", as_cfunction(build_info), kKeywords,
     "build_info()\n--\n\n"
     "A dict: the kernel level in use, the maths build and the version."},
    {nullptr, nullptr, 0, nullptr},
};

PyResult<Ok> set_item(PyObject* dict, const char* key, PyRef value) {
    if (PyDict_SetItemString(dict, key, value.get()) != 0) return unexpected(take_exception());
    return Ok{};
}

PyRef new_str(const char* text) { return expect_new(PyUnicode_FromString(text)); }

int module_exec(PyObject* module) {
    return entry_point_status([&]() -> CallResult {
        VK_TRY(phasehvec_type_or_error());
        VK_TRY(obtain_sequence_type());  // here, never in the middle of a call
        VK_TRY(ready_buffer_export_type());
        if (PyModule_AddStringConstant(module, "__doc__", kModuleDoc) != 0) return unexpected(take_exception());
        PyRef all = expect_new(PyList_New(0));
        for (const PyMethodDef* def = kFunctions; def->ml_name != nullptr; ++def) {
            if (PyList_Append(all.get(), new_str(def->ml_name).get()) != 0) return unexpected(take_exception());
        }
        if (PyObject_SetAttrString(module, "__all__", all.get()) != 0) return unexpected(take_exception());
        return PyRef::borrow(Py_None);
    });
}

PyModuleDef_Slot kModuleSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "verrakin_extras",  // m_name
    "",                 // m_doc: the execution slot sets the real text
    0,                  // m_size: no per-module state
    kFunctions,         // m_methods
    kModuleSlots,       // m_slots
    nullptr,            // m_traverse
    nullptr,            // m_clear
    nullptr,            // m_free
};

}  // namespace

PyObject* build_info(PyObject*, PyObject* args, PyObject* kwargs) {
    return entry_point([&]() -> CallResult {
        VK_TRY(extract_arguments(kBuildInfoSignature, args, kwargs, {}));
        PyRef info = expect_new(PyDict_New());
        VK_TRY(set_item(info.get(), "kernels", new_str(isa_name(active_isa()))));
        VK_TRY(set_item(info.get(), "cpu_supports", new_str(isa_name(supported_isa()))));
        VK_TRY(set_item(info.get(), "maths", new_str(maths::implementation_name())));
        VK_TRY(set_item(info.get(), "version", new_str(VERRAKIN_VERSION)));
        return info;
    });
}

}  // namespace verrakin::extras

PyMODINIT_FUNC PyInit_verrakin_extras(void) { return PyModuleDef_Init(&verrakin::extras::kModuleDef); }
