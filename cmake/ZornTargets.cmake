# Shared compile settings and helpers for the project's targets.

add_library(zorn_build_flags INTERFACE)
target_compile_options(zorn_build_flags INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                                  -Wno-multichar)
if(ZORN_WERROR)
    target_compile_options(zorn_build_flags INTERFACE -Werror)
    # g++ 12 reports impossible sizes inside its own inlined std::string, std::vector and memcpy
    # code at -O2/-O3 (-Wrestrict, -Warray-bounds, -Wstringop-overflow on paths that guards rule
    # out). They stay visible as warnings but do not fail an optimised build.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(zorn_build_flags INTERFACE -Wno-error=restrict -Wno-error=array-bounds
                                                          -Wno-error=stringop-overflow)
    endif()
endif()
target_include_directories(zorn_build_flags INTERFACE ${PROJECT_SOURCE_DIR})

if(ZORN_SANITIZE)
    string(REPLACE ";" "," _zorn_sanitizers "${ZORN_SANITIZE}")
    add_compile_options(-fsanitize=${_zorn_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_zorn_sanitizers})
endif()

# LLVM's linker where it is installed (scripts/setup installs it): the test programs are large
# (sanitizers, debug information), and linking them is a good part of a build's time with the
# default linker.
include(CheckLinkerFlag)
check_linker_flag(CXX "-fuse-ld=lld" ZORN_HAVE_LLD)
if(ZORN_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
endif()

# libFuzzer needs coverage instrumentation in the libraries under test too, not only in the targets.
if(ZORN_BUILD_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# zorn_add_library(NAME folder SOURCES ... DEPENDS ...): one library target per code folder.
function(zorn_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;SYSTEM_DEPENDS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC zorn_build_flags ${ARG_DEPENDS} ${ARG_SYSTEM_DEPENDS})
endfunction()

# zorn_add_test(NAME LABEL folder [THREADS] SOURCES ... DEPENDS ...): a GoogleTest program discovered
# by CTest, labelled with the code folder it tests. THREADS marks a program whose tests run code on
# several threads: it is also labelled "threads" and built by zorn_threaded_tests, the target that
# the ThreadSanitizer preset builds and runs (the other programs run under ThreadSanitizer for
# nothing, so CI builds them only once).
# The test programs share one precompiled GoogleTest header (about a third of a test file's compile
# time otherwise), built once by zorn_test_pch with the same flags as the tests.
function(zorn_add_test_pch)
    file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/zorn_test_pch.cpp" "// The precompiled header's own unit.\n")
    add_library(zorn_test_pch OBJECT "${CMAKE_CURRENT_BINARY_DIR}/zorn_test_pch.cpp")
    target_link_libraries(zorn_test_pch PRIVATE zorn_build_flags zorn_kernel GTest::gtest)
    target_precompile_headers(zorn_test_pch PRIVATE <gtest/gtest.h>)
endfunction()

function(zorn_add_test name)
    cmake_parse_arguments(ARG "THREADS" "LABEL" "SOURCES;DEPENDS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE zorn_build_flags ${ARG_DEPENDS} GTest::gtest GTest::gtest_main)
    target_precompile_headers(${name} REUSE_FROM zorn_test_pch)
    set(labels ${ARG_LABEL})
    if(ARG_THREADS)
        list(APPEND labels threads)
        add_dependencies(zorn_threaded_tests ${name})
    endif()
    gtest_discover_tests(${name} TEST_LIST ${name}_TESTS DISCOVERY_TIMEOUT 60)
    # gtest_discover_tests cannot pass a list of labels to the tests it finds: a script of our own,
    # read by CTest after the discovered tests, labels them. A test whose name has "Slow" in it (one
    # that runs the designed waits of a minute or so) is also labelled "slow", so that
    # `ctest -LE slow` leaves it out.
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
    file(WRITE "${script}"
         "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${labels}\")\n"
         "  foreach(test IN LISTS ${name}_TESTS)\n    if(test MATCHES \"Slow\")\n"
         "      set_tests_properties(\${test} PROPERTIES LABELS \"${labels};slow\")\n    endif()\n"
         "  endforeach()\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()
