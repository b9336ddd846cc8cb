#include "argument_binding.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "py_ref.hpp"
#include "trampoline.hpp"

namespace qorv_chemical_engineering_py {

namespace {

// ---- binder messages ---------------------------------------------------------------------

void raise_type_error(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
}

std::string full_name(const FunctionDescription& d) {
    return std::string(d.function_name) + "()";
}

void too_many_positional_arguments(const FunctionDescription& d, Py_ssize_t given) {
    const std::size_t total = d.parameter_names.size();
    std::string message = full_name(d) + " takes ";
    if (d.required_positional == total) {
        message += std::to_string(total);
    } else {
        message += "from " + std::to_string(d.required_positional) + " to " + std::to_string(total);
    }
    message += " positional arguments but " + std::to_string(given) +
               (given == 1 ? " was given" : " were given");
    raise_type_error(message);
}

void unexpected_keyword_argument(const FunctionDescription& d, PyObject* key) {
    // %S renders the key's str(), whatever its type.
    PyRef message(
        PyUnicode_FromFormat("%s() got an unexpected keyword argument '%S'", d.function_name, key));
    if (!message) {
        resume_panic_if_pending();  // str() of the key ran user code that failed
        return;
    }
    PyErr_SetObject(PyExc_TypeError, message.get());
}

void multiple_values_for_argument(const FunctionDescription& d, const char* parameter) {
    raise_type_error(full_name(d) + " got multiple values for argument '" + parameter + "'");
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
void push_parameter_list(std::string& message, std::span<const char* const> names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) message += ',';
            message += i + 1 == names.size() ? " and " : " ";
        }
        message += '\'';
        message += names[i];
        message += '\'';
    }
}

void missing_required_arguments(const FunctionDescription& d, const char* kind,
                                std::span<const char* const> missing) {
    std::string message = full_name(d) + " missing " + std::to_string(missing.size()) +
                          " required " + kind +
                          (missing.size() == 1 ? " argument: " : " arguments: ");
    push_parameter_list(message, missing);
    raise_type_error(message);
}

// Index of the parameter named by a keyword key, or -1. Interned names match by identity;
// other str keys (and subclasses) match by text, exactly and case-sensitively. A key that is
// not a str names no parameter.
std::ptrdiff_t find_parameter(const FunctionDescription& d, PyObject* key) {
    const std::size_t count = d.parameter_names.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (key == d.interned_names[i]) return static_cast<std::ptrdiff_t>(i);
    }
    if (!PyUnicode_Check(key)) return -1;
    for (std::size_t i = 0; i < count; ++i) {
        if (PyUnicode_CompareWithASCIIString(key, d.parameter_names[i]) == 0) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

// ---- converter helpers -------------------------------------------------------------------

PyObject* interned(const char* text) {
    PyObject* name = PyUnicode_InternFromString(text);
    return checked(name);
}

struct AttributeNames {
    PyObject* module = interned("__module__");
    PyObject* name = interned("__name__");
    PyObject* qualname = interned("__qualname__");
    PyObject* bool_ = interned("__bool__");
    PyObject* get = interned("__get__");
};

const AttributeNames& attribute_names() {
    static const AttributeNames names;  // made once, under the interpreter lock
    return names;
}

// "'{qualname}' object cannot be converted to '{target}'"
void cannot_be_converted(PyTypeObject* type, const char* target) {
    PyRef qualname(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), attribute_names().qualname));
    PyRef message;
    if (qualname && PyUnicode_Check(qualname.get())) {
        message.reset(PyUnicode_FromFormat("'%U' object cannot be converted to '%s'",
                                           qualname.get(), target));
    } else {
        PyErr_Clear();
        message.reset(PyUnicode_FromFormat(
            "'<failed to extract type name>' object cannot be converted to '%s'", target));
    }
    if (message) PyErr_SetObject(PyExc_TypeError, message.get());
}

// Reads a str attribute of a type and compares it with ASCII text; any failure is "no".
bool type_attribute_is(PyTypeObject* type, PyObject* attribute, const char* expected) {
    PyRef value(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), attribute));
    if (!value) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_Check(value.get()) &&
           PyUnicode_CompareWithASCIIString(value.get(), expected) == 0;
}

// NumPy is never imported: its boolean scalar type is known by its module and name.
bool is_numpy_bool_type(PyTypeObject* type) {
    const auto& names = attribute_names();
    return type_attribute_is(type, names.module, "numpy") &&
           (type_attribute_is(type, names.name, "bool_") ||
            type_attribute_is(type, names.name, "bool"));
}

// Calls type(object).__bool__, bound to the object, and reads a bool result.
bool numpy_bool_value(PyObject* object, bool& value) {
    const auto& names = attribute_names();
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
    PyRef method(PyObject_GetAttr(type, names.bool_));
    if (!method) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        PyRef message(PyUnicode_FromFormat(
            "object of type '%S' does not define a '__bool__' conversion", type));
        if (message) PyErr_SetObject(PyExc_TypeError, message.get());
        return false;
    }
    PyRef getter(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(method.get())), names.get));
    if (getter) {
        PyRef bound(
            PyObject_CallFunctionObjArgs(getter.get(), method.get(), object, type, nullptr));
        if (!bound) return false;
        method = std::move(bound);
    } else {
        PyErr_Clear();  // not a descriptor: call it as it stands
    }
    PyRef result(PyObject_CallObject(method.get(), nullptr));
    if (!result) return false;
    if (!PyBool_Check(result.get())) {
        cannot_be_converted(Py_TYPE(result.get()), "PyBool");
        return false;
    }
    value = result.get() == Py_True;
    return true;
}

// UTF-8 of code points that are not surrogates; false (leaving `out` unspecified) on a
// surrogate, which UTF-8 cannot encode.
bool encode_utf8(const Py_UCS4* code_points, std::size_t count, std::string& out) {
    out.clear();
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Py_UCS4 c = code_points[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            if (c >= 0xD800 && c <= 0xDFFF) return false;
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

}  // namespace

bool intern_parameter_names(const FunctionDescription& d) {
    for (std::size_t i = 0; i < d.parameter_names.size(); ++i) {
        if (d.interned_names[i] != nullptr) continue;
        d.interned_names[i] = PyUnicode_InternFromString(d.parameter_names[i]);
        if (d.interned_names[i] == nullptr) return false;
    }
    return true;
}

bool extract_arguments_tuple_dict(const FunctionDescription& d, PyObject* args, PyObject* kwargs,
                                  PyRef* slots) {
    const std::size_t total = d.parameter_names.size();
    const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
    const std::size_t copied = std::min(static_cast<std::size_t>(given), total);
    for (std::size_t i = 0; i < copied; ++i) {
        slots[i] = PyRef::borrow(PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)));
    }
    if (static_cast<std::size_t>(given) > total) {
        too_many_positional_arguments(d, given);
        return false;
    }

    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            const std::ptrdiff_t index = find_parameter(d, key);
            if (index < 0) {
                // str() of the key may run user code that empties the dict.
                const PyRef held = PyRef::borrow(key);
                unexpected_keyword_argument(d, held.get());
                return false;
            }
            if (slots[index]) {
                multiple_values_for_argument(d, d.parameter_names[static_cast<std::size_t>(index)]);
                return false;
            }
            slots[index] = PyRef::borrow(value);
        }
    }

    if (static_cast<std::size_t>(given) < d.required_positional) {
        const char* missing[64];
        std::size_t n_missing = 0;
        for (std::size_t i = 0; i < d.required_positional && n_missing < 64; ++i) {
            if (!slots[i]) missing[n_missing++] = d.parameter_names[i];
        }
        if (n_missing > 0) {
            missing_required_arguments(d, "positional", {missing, n_missing});
            return false;
        }
    }
    return true;
}

bool extract_bound(PyObject* object, std::uint64_t& value) {
    std::uint64_t result;
    if (PyLong_Check(object)) {
        result = PyLong_AsUnsignedLongLong(object);
    } else {
        PyRef index(PyNumber_Index(object));  // honours __index__
        if (!index) return false;
        result = PyLong_AsUnsignedLongLong(index.get());
    }
    if (result == std::numeric_limits<std::uint64_t>::max() && PyErr_Occurred()) return false;
    value = result;
    return true;
}

bool extract_bound(PyObject* object, double& value) {
    const double result = PyFloat_AsDouble(object);
    if (result == -1.0 && PyErr_Occurred()) return false;
    value = result;
    return true;
}

bool extract_bound(PyObject* object, bool& value) {
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyBool_Type || PyType_IsSubtype(type, &PyBool_Type)) {
        value = object == Py_True;
        return true;
    }
    // Reading the type's attributes may run a metaclass's code, which could give the object
    // another class and let this one go.
    const PyRef held_type = PyRef::borrow(reinterpret_cast<PyObject*>(type));
    if (is_numpy_bool_type(type)) return numpy_bool_value(object, value);
    cannot_be_converted(type, "PyBool");
    return false;
}

bool extract_bound(PyObject* object, std::string& value) {
    if (!PyUnicode_Check(object)) {
        cannot_be_converted(Py_TYPE(object), "PyString");
        return false;
    }
    // Unit strings are short: read their code points into a stack buffer and encode them here,
    // which spares a bytes object per argument. Anything unusual (long text, surrogates) takes
    // the interpreter's encoder, so its UnicodeEncodeError is the one the caller sees.
    constexpr Py_ssize_t kShortText = 64;
    const Py_ssize_t length = PyUnicode_GetLength(object);
    if (length >= 0 && length <= kShortText) {
        Py_UCS4 code_points[kShortText + 1];
        if (PyUnicode_AsUCS4(object, code_points, kShortText + 1, 1) == nullptr) return false;
        if (encode_utf8(code_points, static_cast<std::size_t>(length), value)) return true;
    }
    PyErr_Clear();
    PyRef utf8(PyUnicode_AsUTF8String(object));  // fails on a lone surrogate
    if (!utf8) return false;
    value.assign(PyBytes_AsString(utf8.get()), static_cast<std::size_t>(PyBytes_Size(utf8.get())));
    return true;
}

void argument_extraction_error(const char* name) {
    resume_panic_if_pending();
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type != PyExc_TypeError) {  // exactly TypeError; subclasses pass unchanged
        PyErr_Restore(type, value, traceback);
        return;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef original_type(type), original(value), original_traceback(traceback);

    PyRef message(PyUnicode_FromFormat("argument '%s': %S", name, original.get()));
    if (!message) return;
    PyRef replacement(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
    if (!replacement) return;
    // The converter's own exception is dropped; only its cause carries over.
    if (PyObject* cause = PyException_GetCause(original.get())) {
        PyException_SetCause(replacement.get(), cause);  // steals the cause
    }
    Py_IncRef(PyExc_TypeError);
    PyErr_Restore(PyExc_TypeError, replacement.release(), nullptr);
}

}  // namespace qorv_chemical_engineering_py
