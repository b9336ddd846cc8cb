// The text converter encodes short strings itself; it must give exactly the interpreter's
// UTF-8 for every kind of character, and the interpreter's error for what UTF-8 cannot hold.
#include <Python.h>
#include <gtest/gtest.h>

#include <string>

#include "argument_binding.hpp"
#include "py_ref.hpp"

namespace {

using namespace qorv_chemical_engineering_py;

class TextConversion : public ::testing::TestWithParam<const char*> {};

TEST_P(TextConversion, MatchesTheInterpretersUtf8) {
    PyObject* globals = PyModule_GetDict(PyImport_AddModule("__main__"));
    PyRef text(PyRun_String(GetParam(), Py_eval_input, globals, globals));
    ASSERT_TRUE(text) << GetParam();
    PyRef reference(PyUnicode_AsUTF8String(text.get()));
    ASSERT_TRUE(reference);
    std::string converted = "stale";
    ASSERT_TRUE(extract_bound(text.get(), converted));
    EXPECT_EQ(converted, std::string(PyBytes_AsString(reference.get()),
                                     static_cast<std::size_t>(PyBytes_Size(reference.get()))));
}

INSTANTIATE_TEST_SUITE_P(Texts, TextConversion,
                         ::testing::Values("''", "'kg/h'", "'  \\u00b0C '", "'\\u212a'",
                                           "'\\u00e9\\u0398\\u3000'", "'\\U0001F600 m'",
                                           "'\\x00kg\\x00'", "'\\uffff\\u0800\\u07ff\\x7f\\x80'",
                                           "'x' * 64", "'\\u00b0' * 64", "'y' * 65 + '\\u0398'",
                                           "type('Sub', (str,), {})('degC')"));

TEST(TextConversionErrors, SurrogatesRaiseTheInterpretersError) {
    PyObject* globals = PyModule_GetDict(PyImport_AddModule("__main__"));
    for (const char* expression : {"'\\ud800'", "'kg' + '\\udfff'", "'z' * 70 + '\\ud83d'"}) {
        PyRef text(PyRun_String(expression, Py_eval_input, globals, globals));
        ASSERT_TRUE(text);
        std::string converted;
        EXPECT_FALSE(extract_bound(text.get(), converted)) << expression;
        EXPECT_TRUE(PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) << expression;
        PyErr_Clear();
    }
}

}  // namespace
