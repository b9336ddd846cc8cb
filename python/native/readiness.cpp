// The readiness court in full: every finding with its message, not only the summary the
// module in src/ returns.
#include <cstdint>

#include "native.hpp"
#include "qorv_chemical_engineering_edge/data_readiness.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace readiness = qorv_chemical_engineering_edge::data_readiness;

PyObject* grade(PyObject*, PyObject* args) {
    return guarded([&]() -> PyObject* {
        readiness::ReadinessProfile p;
        unsigned long long n_tags = 0, n_rows = 0;
        int baseline = 0, license = 0, regular = 0, controllers = 0, maintenance = 0, batches = 0,
            lab = 0;
        if (!PyArg_ParseTuple(args, "KKppddddppppp:grade", &n_tags, &n_rows, &baseline, &license,
                              &p.missingness, &p.unit_coverage, &p.duplicate_timestamps,
                              &p.time_span_hours, &regular, &controllers, &maintenance, &batches,
                              &lab)) {
            return nullptr;
        }
        p.n_tags = n_tags;
        p.n_rows = n_rows;
        p.baseline_present = baseline != 0;
        p.license_cleared = license != 0;
        p.sampling_regular = regular != 0;
        p.has_controllers = controllers != 0;
        p.has_maintenance = maintenance != 0;
        p.has_batches = batches != 0;
        p.has_lab_samples = lab != 0;

        const auto court = readiness::IndustrialDataReadinessCourtV1::grade(p);
        PyRef findings(PyList_New(static_cast<Py_ssize_t>(court.findings.size())));
        if (!findings) return nullptr;
        Py_ssize_t index = 0;
        for (const auto& finding : court.findings) {
            PyObject* item = Py_BuildValue(
                "(s#s#s#)", finding.dimension.data(),
                static_cast<Py_ssize_t>(finding.dimension.size()), finding.level.data(),
                static_cast<Py_ssize_t>(finding.level.size()), finding.message.data(),
                static_cast<Py_ssize_t>(finding.message.size()));
            if (item == nullptr) return nullptr;
            PyList_SetItem(findings.get(), index++, item);  // steals item
        }
        return Py_BuildValue(
            "(s#KKs#N)", court.verdict.data(), static_cast<Py_ssize_t>(court.verdict.size()),
            static_cast<unsigned long long>(court.n_caveat),
            static_cast<unsigned long long>(court.n_critical_missing), court.court_hash.data(),
            static_cast<Py_ssize_t>(court.court_hash.size()), findings.release());
    });
}

}  // namespace qorv_chemical_engineering_edge_py
