// The availability grid for a report, from the counted bins the profile carries (as the bytes
// profile_convert.cpp hands over) and its per-tag counts; the rule is the core's.
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "native.hpp"
#include "qorv_chemical_engineering_edge/export_profile.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace profile = qorv_chemical_engineering_edge::export_profile;

namespace {

// The bytes object's items, when it holds exactly `count` of them; ValueError otherwise.
template <class T>
bool items_of(PyObject* bytes, std::size_t count, const char* what, std::span<const T>& out) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes, &data, &size) != 0) return false;
    if (static_cast<std::size_t>(size) != count * sizeof(T) ||
        reinterpret_cast<std::uintptr_t>(data) % alignof(T) != 0) {
        PyErr_Format(PyExc_ValueError, "availability: %s holds %zd bytes, not %zu", what, size,
                     count * sizeof(T));
        return false;
    }
    out = {reinterpret_cast<const T*>(data), count};
    return true;
}

bool counts_of(PyObject* list, std::vector<std::uint64_t>& out) {
    const Py_ssize_t n = PyList_Size(list);
    out.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        out[static_cast<std::size_t>(i)] = PyLong_AsUnsignedLongLong(PyList_GetItem(list, i));
        if (PyErr_Occurred()) return false;
    }
    return true;
}

// A [row][bucket] table as a tuple of tuples, each value made by `make`.
template <class Make>
PyObject* table(std::size_t rows, std::size_t buckets, Make&& make) {
    PyRef out(PyTuple_New(static_cast<Py_ssize_t>(rows)));
    if (!out) return nullptr;
    for (std::size_t r = 0; r < rows; ++r) {
        PyObject* row = PyTuple_New(static_cast<Py_ssize_t>(buckets));
        if (row == nullptr) return nullptr;
        PyTuple_SetItem(out.get(), static_cast<Py_ssize_t>(r), row);  // steals row
        for (std::size_t b = 0; b < buckets; ++b) {
            PyObject* value = make(r * buckets + b);
            if (value == nullptr) return nullptr;
            PyTuple_SetItem(row, static_cast<Py_ssize_t>(b), value);  // steals value
        }
    }
    return out.release();
}

}  // namespace

PyObject* availability_grid(PyObject*, PyObject* args) {
    return trampoline([&]() -> PyObject* {
        profile::AvailabilityGridInput in;
        unsigned long long bins = 0, buckets = 0;
        long long start_us = 0, bin_us = 0, max_tags = -1;
        PyObject *rows, *counts, *first, *last, *step, *samples, *present;
        PyObject *low = nullptr, *high = nullptr, *chosen = nullptr;
        int wide = 1;
        if (!PyArg_ParseTuple(args, "LLKO!O!O!O!O!O!O!pKL|O!O!O!:availability_grid", &start_us,
                              &bin_us, &bins, &PyBytes_Type, &rows, &PyBytes_Type, &counts,
                              &PyBytes_Type, &first, &PyBytes_Type, &last, &PyBytes_Type, &step,
                              &PyList_Type, &samples, &PyList_Type, &present, &wide, &buckets,
                              &max_tags, &PyBytes_Type, &low, &PyBytes_Type, &high, &PyList_Type,
                              &chosen)) {
            return nullptr;
        }
        if (bin_us <= 0 || buckets == 0) {
            PyErr_SetString(PyExc_ValueError, "availability: no bin width or no buckets");
            return nullptr;
        }
        in.start_us = start_us;
        in.bin_us = bin_us;
        in.bins = bins;
        in.wide = wide != 0;
        std::vector<std::uint64_t> tag_samples, tag_present;
        if (!counts_of(samples, tag_samples) || !counts_of(present, tag_present)) return nullptr;
        const std::size_t tags = tag_samples.size();
        if (tag_present.size() != tags) {
            PyErr_SetString(PyExc_ValueError, "availability: per-tag counts differ in length");
            return nullptr;
        }
        if (!items_of(rows, bins, "rows", in.rows) ||
            !items_of(counts, tags * bins * 3, "counts", in.counts) ||
            !items_of(first, tags, "first", in.first) || !items_of(last, tags, "last", in.last) ||
            !items_of(step, tags, "step", in.step)) {
            return nullptr;
        }
        // The envelope, when the profile kept one (empty bytes: none).
        if (low != nullptr && high != nullptr && PyBytes_Size(low) > 0 &&
            (!items_of(low, tags * bins, "low", in.low) ||
             !items_of(high, tags * bins, "high", in.high))) {
            return nullptr;
        }
        in.samples = tag_samples;
        in.present = tag_present;
        // The tags to draw, when named; else those with the least data.
        std::vector<std::uint64_t> named;
        if (chosen != nullptr && !counts_of(chosen, named)) return nullptr;
        for (const std::uint64_t i : named) {
            if (i >= tags) {
                PyErr_Format(PyExc_ValueError, "availability: no tag %llu of %zu",
                             static_cast<unsigned long long>(i), tags);
                return nullptr;
            }
        }

        const profile::AvailabilityGrid grid = without_gil([&] {
            if (chosen != nullptr)
                return profile::availability_grid(
                    in, buckets, std::vector<std::size_t>(named.begin(), named.end()));
            return profile::availability_grid(
                in, buckets,
                max_tags < 0 ? std::nullopt
                             : std::optional<std::size_t>(static_cast<std::size_t>(max_tags)));
        });
        const std::size_t n = grid.tags.size(), w = grid.buckets;
        auto count = [](std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); };
        PyRef drawn(PyTuple_New(static_cast<Py_ssize_t>(n)));
        if (!drawn) return nullptr;
        for (std::size_t i = 0; i < n; ++i) {
            PyObject* index = PyLong_FromSize_t(grid.tags[i]);
            if (index == nullptr) return nullptr;
            PyTuple_SetItem(drawn.get(), static_cast<Py_ssize_t>(i), index);
        }
        PyRef shares(table(n, w, [&](std::size_t k) -> PyObject* {
            if (grid.expected[k] == 0) return none();
            return PyFloat_FromDouble(static_cast<double>(grid.present[k]) /
                                      static_cast<double>(grid.expected[k]));
        }));
        PyRef present_t(table(n, w, [&](std::size_t k) { return count(grid.present[k]); }));
        PyRef expected_t(table(n, w, [&](std::size_t k) { return count(grid.expected[k]); }));
        PyRef bad_t(table(n, w, [&](std::size_t k) { return count(grid.bad_state[k]); }));
        PyRef rows_t(table(1, w, [&](std::size_t k) { return count(grid.rows[k]); }));
        // NaN (no value in the bucket) as None.
        auto value = [](double v) { return v == v ? PyFloat_FromDouble(v) : none(); };
        const bool envelope = !grid.low.empty();
        PyRef low_t(table(envelope ? n : 0, w, [&](std::size_t k) { return value(grid.low[k]); }));
        PyRef high_t(
            table(envelope ? n : 0, w, [&](std::size_t k) { return value(grid.high[k]); }));
        if (!shares || !present_t || !expected_t || !bad_t || !rows_t || !low_t || !high_t)
            return nullptr;
        PyRef bucket_rows(PySequence_GetItem(rows_t.get(), 0));
        if (!bucket_rows) return nullptr;
        return Py_BuildValue("(NLLNNNNNNN)", drawn.release(), static_cast<long long>(grid.start_us),
                             static_cast<long long>(grid.bucket_us), shares.release(),
                             present_t.release(), expected_t.release(), bad_t.release(),
                             bucket_rows.release(), low_t.release(), high_t.release());
    });
}

}  // namespace qorv_chemical_engineering_edge_py
