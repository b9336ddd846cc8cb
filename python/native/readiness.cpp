// The readiness court in full: every finding with its message, not only the summary the
// module in src/ returns. The arguments are bound and converted by the same code as that
// module's grade_readiness, so both accept and refuse the same values with the same texts.
#include <cstdint>

#include "native.hpp"
#include "qorv_chemical_engineering_edge/data_readiness.hpp"
#include "readiness_binding.hpp"

namespace qorv_chemical_engineering_edge_py {

namespace readiness = qorv_chemical_engineering_edge::data_readiness;
namespace kit = qorv_chemical_engineering_py;

namespace {
PyObject* grade_interned[kit::kReadinessParameters.size()] = {};
const kit::FunctionDescription kGrade{"grade", kit::kReadinessParameters, kit::kReadinessRequired,
                                      grade_interned};
}  // namespace

bool intern_grade_parameters() {
    return kit::intern_parameter_names(kGrade);
}

PyObject* grade(PyObject*, PyObject* args, PyObject* kwargs) {
    return trampoline([&]() -> PyObject* {
        PyRef slots[kit::kReadinessParameters.size()];
        if (!kit::extract_arguments_tuple_dict(kGrade, args, kwargs, slots)) return nullptr;
        readiness::ReadinessProfile p;
        if (!kit::convert_readiness_profile(slots, p)) return nullptr;

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
        // The profile as converted (an int from __index__, a float, a plain bool), for the record.
        PyRef profile(Py_BuildValue(
            "(KKNNddddNNNNN)", static_cast<unsigned long long>(p.n_tags),
            static_cast<unsigned long long>(p.n_rows), PyBool_FromLong(p.baseline_present),
            PyBool_FromLong(p.license_cleared), p.missingness, p.unit_coverage,
            p.duplicate_timestamps, p.time_span_hours, PyBool_FromLong(p.sampling_regular),
            PyBool_FromLong(p.has_controllers), PyBool_FromLong(p.has_maintenance),
            PyBool_FromLong(p.has_batches), PyBool_FromLong(p.has_lab_samples)));
        if (!profile) return nullptr;
        return Py_BuildValue(
            "(s#KKs#NN)", court.verdict.data(), static_cast<Py_ssize_t>(court.verdict.size()),
            static_cast<unsigned long long>(court.n_caveat),
            static_cast<unsigned long long>(court.n_critical_missing), court.court_hash.data(),
            static_cast<Py_ssize_t>(court.court_hash.size()), findings.release(),
            profile.release());
    });
}

}  // namespace qorv_chemical_engineering_edge_py
