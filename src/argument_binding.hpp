// Binding a Python call's arguments to a function's parameters, and converting each one.
//
// Every parameter is positional-or-keyword; the first `required_positional` must be given.
// Binding errors and conversion errors are raised with fixed texts; a conversion TypeError is
// prefixed with "argument '<name>': ".
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "py_ref.hpp"

namespace qorv_chemical_engineering_py {

struct FunctionDescription {
    const char* function_name;
    std::span<const char* const> parameter_names;
    std::size_t required_positional;
    // The parameter names as interned str, made at module init; keyword keys written in the
    // call are usually these very objects, which makes matching a pointer comparison.
    PyObject** interned_names;
};

// Interns the parameter names of `description`. False with a Python error set on failure.
bool intern_parameter_names(const FunctionDescription& description);

// Fills `slots` (one per parameter, empty when omitted) with strong references to the call's
// arguments. They are owned, not borrowed, because converting one argument runs user code
// (`__index__`, `__float__`, `__bool__`) that may empty the keyword dict and so free the
// arguments still to be read. False with a TypeError set when the call does not fit the
// parameters.
bool extract_arguments_tuple_dict(const FunctionDescription& description, PyObject* args,
                                  PyObject* kwargs, PyRef* slots);

// Converters: true with the value, or false with the Python error set.
bool extract_bound(PyObject* object, std::uint64_t& value);
bool extract_bound(PyObject* object, double& value);
bool extract_bound(PyObject* object, bool& value);
bool extract_bound(PyObject* object, std::string& value);

// Rewrites the pending conversion error for the parameter `name`: an exact TypeError gains
// the "argument '<name>': " prefix; any other error passes unchanged. A pending PanicException
// is resumed as an internal failure instead.
void argument_extraction_error(const char* name);

// Converts the argument in `slot` when it was supplied; an omitted one keeps `value`.
template <class T>
bool convert_argument(const PyRef& slot, const char* name, T& value) {
    if (!slot || extract_bound(slot.get(), value)) return true;
    argument_extraction_error(name);
    return false;
}

}  // namespace qorv_chemical_engineering_py
