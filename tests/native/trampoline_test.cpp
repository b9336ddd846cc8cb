// Internal failures at the module boundary, seen from an embedded interpreter: a failing body
// becomes PanicException, and a PanicException raised by user code during argument conversion
// is resumed as an internal failure rather than downgraded to an argument error.
#include <Python.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "py_ref.hpp"
#include "trampoline.hpp"

extern "C" PyObject* PyInit_qorv_chemical_engineering();

namespace {

using namespace qorv_chemical_engineering_py;

PyObject* main_globals() {
    return PyModule_GetDict(PyImport_AddModule("__main__"));
}

// Runs Python statements in __main__; false (with the traceback printed) when they raise.
bool run(const char* code) {
    PyRef result(PyRun_String(code, Py_file_input, main_globals(), main_globals()));
    if (!result) PyErr_Print();
    return static_cast<bool>(result);
}

// Moves the pending exception into __main__ as `exc`.
void stash_pending_exception() {
    ASSERT_TRUE(PyErr_Occurred());
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyDict_SetItemString(main_globals(), "exc", value);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
}

// Captures what native code writes to standard error while `action` runs.
template <class Action>
std::string capture_stderr(Action action) {
    std::fflush(stderr);
    char path[] = "/tmp/qorv_stderr_XXXXXX";
    const int file = mkstemp(path);
    const int saved = dup(2);
    dup2(file, 2);
    action();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(file);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::remove(path);
    return text.str();
}

struct FailingBody {
    const char* label;
    PyObject* (*body)();
    const char* expected_args;  // Python expression for exc.args
};

class TrampolineFailure : public ::testing::TestWithParam<FailingBody> {};

TEST_P(TrampolineFailure, BecomesPanicException) {
    const auto& c = GetParam();
    EXPECT_EQ(trampoline(c.body), nullptr);
    stash_pending_exception();
    const std::string check =
        std::string("assert exc.args == ") + c.expected_args + ", exc.args\n" +
        "t = type(exc)\n"
        "assert (t.__module__, t.__name__) == ('trelk_runtime', 'PanicException')\n"
        "assert t.__bases__ == (BaseException,) and not isinstance(exc, Exception)\n"
        "assert t.__doc__.startswith('\\nRaised when') and t.__doc__.endswith(\n"
        "    'Like SystemExit, this exception is derived from BaseException so that\\n'\n"
        "    'it will typically propagate all the way through the stack and cause the\\n'\n"
        "    'Python interpreter to exit.\\n'), t.__doc__\n";
    EXPECT_TRUE(run(check.c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, TrampolineFailure,
    ::testing::Values(FailingBody{"panic_with_text",
                                  []() -> PyObject* { throw Panic{"boom \u00b0C"}; },
                                  "('boom \u00b0C',)"},
                      FailingBody{"foreign_exception", []() -> PyObject* { throw 42; },
                                  "(\"the library's native code failed\",)"},
                      FailingBody{"interpreter_call_failed",
                                  []() -> PyObject* {
                                      PyErr_NoMemory();
                                      return checked(nullptr);
                                  },
                                  "('Python API call failed',)"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Trampoline, NullWithoutAnErrorIsASystemError) {
    EXPECT_EQ(trampoline([]() -> PyObject* { return nullptr; }), nullptr);
    stash_pending_exception();
    EXPECT_TRUE(
        run("assert type(exc) is SystemError\n"
            "assert str(exc) == 'attempted to fetch exception but none was set'\n"));
}

TEST(Trampoline, PythonErrorsPassUnchanged) {
    EXPECT_EQ(trampoline([]() -> PyObject* {
                  PyErr_SetString(PyExc_ValueError, "plain");
                  return nullptr;
              }),
              nullptr);
    stash_pending_exception();
    EXPECT_TRUE(run("assert type(exc) is ValueError and exc.args == ('plain',)\n"));
}

// User code called during conversion raises the module's own PanicException: the call fails
// with a new PanicException of the same text, never with an "argument" prefix.
TEST(Trampoline, PanicFromUserCodeIsResumed) {
    EXPECT_EQ(trampoline([]() -> PyObject* { throw Panic{"first"}; }), nullptr);
    stash_pending_exception();
    ASSERT_TRUE(
        run("import qorv_chemical_engineering as q\n"
            "Panic = type(exc)\n"
            "class Index:\n"
            "    def __index__(self): raise Panic('nested failure')\n"
            "class Float:\n"
            "    def __float__(self): raise Panic('nested float')\n"
            "def outcome(call):\n"
            "    try:\n"
            "        call()\n"
            "    except BaseException as e:\n"
            "        return e\n"));
    const std::string log = capture_stderr([] {
        EXPECT_TRUE(
            run("e = outcome(lambda: q.grade_readiness(Index(), 1, True, True, 0.0, 1.0))\n"
                "assert type(e) is Panic and e.args == ('nested failure',), repr(e)\n"
                "e = outcome(lambda: q.grade_readiness(1, 1, True, True, Float(), 1.0))\n"
                "assert type(e) is Panic and e.args == ('nested float',), repr(e)\n"
                "assert q.classify_unit_pair('kPa', 'Pa') == 'scale_mismatch'\n"));
    });
    EXPECT_NE(log.find("Python stack trace below:"), std::string::npos) << log;
    EXPECT_NE(log.find("nested failure"), std::string::npos) << log;
    EXPECT_NE(log.find("nested float"), std::string::npos) << log;
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    PyImport_AppendInittab("qorv_chemical_engineering", PyInit_qorv_chemical_engineering);
    Py_Initialize();
    return RUN_ALL_TESTS();
}
