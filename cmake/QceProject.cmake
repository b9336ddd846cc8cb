# Settings shared by the whole project and by the core configured on its own (cmake -S edge):
# the version, the default build type and every build option. Included before project().
include_guard(GLOBAL)

# One version for everything, held by pyproject.toml. scikit-build-core passes it in; a plain
# CMake build reads it from the file.
if(DEFINED SKBUILD_PROJECT_VERSION)
    set(QCE_VERSION "${SKBUILD_PROJECT_VERSION}")
else()
    set(_qce_pyproject "${CMAKE_CURRENT_LIST_DIR}/../pyproject.toml")
    file(STRINGS "${_qce_pyproject}" _qce_version_line REGEX "^version = \"[^\"]+\"$" LIMIT_COUNT 1)
    string(REGEX REPLACE "^version = \"([^\"]+)\"$" "\\1" QCE_VERSION "${_qce_version_line}")
    if(NOT QCE_VERSION)
        message(FATAL_ERROR "no version found in ${_qce_pyproject}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_qce_pyproject}")
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type")
endif()

option(QCE_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)
# QCE_EDGE_TESTS: ON builds the core's GoogleTest suite and requires GoogleTest; OFF leaves it out;
# unset, the suite is built when GoogleTest is found, so a machine with only a compiler, CMake and
# zlib configures, builds and installs the core.
set(QCE_EDGE_TESTS "" CACHE STRING "Build the core library's GoogleTest suite (ON, OFF, or empty: when found)")
option(QCE_EDGE_TOOLS "Build the core library's command-line tools" OFF)
option(QCE_PYTHON_MODULE "Build the Python extension module" OFF)
option(QCE_NATIVE_TESTS "Build the module's embedded-interpreter tests" OFF)
