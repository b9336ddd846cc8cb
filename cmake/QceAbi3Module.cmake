# qce_add_abi3_module(<target> NAME <module name> DESTINATION <dir in the wheel> SOURCES ...)
#
# One stable-ABI (abi3, limited API of CPython 3.9) extension module, built the same way for both
# of the project's modules: the C++ runtime linked statically so the wheel needs nothing beyond
# libc at run time, hidden visibility, and a version script, written here, that exports the init
# entry PyInit_<module name> and nothing else. Python is found by the root project.
include_guard(GLOBAL)

function(qce_add_abi3_module target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "NAME;DESTINATION" "SOURCES")
    Python_add_library(${target} MODULE WITH_SOABI USE_SABI 3.9 ${arg_SOURCES})
    target_compile_features(${target} PRIVATE cxx_std_20)
    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME ${arg_NAME}
        CXX_EXTENSIONS OFF
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
    file(CONFIGURE OUTPUT ${map} CONTENT "{\n  global: PyInit_${arg_NAME};\n  local: *;\n};\n")
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc
        -Wl,--version-script=${map})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
    install(TARGETS ${target} LIBRARY DESTINATION ${arg_DESTINATION} COMPONENT python)
endfunction()
