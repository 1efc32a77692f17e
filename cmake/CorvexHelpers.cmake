# Build helpers shared by every layer. A layer folder calls corvex_add_library(); its tests
# call corvex_add_test(); fuzz targets and benchmarks have their own helpers.

include_guard(GLOBAL)

macro(corvex_setup_compiler)
  if(CMAKE_GENERATOR MATCHES "Ninja")
    set(CMAKE_JOB_POOLS link_pool=2)
  endif()
  add_compile_options(-Wall -Wextra)
  if(CORVEX_WERROR)
    add_compile_options(-Werror)
  endif()
  # lld links much faster than bfd on the large test executables.
  add_link_options(-fuse-ld=lld)
  # lld writes no build-id note unless asked; the reporting kit identifies the executable by
  # it (16 bytes, the size of the identifier the kit's server expects).
  add_link_options(-Wl,--build-id=md5)
  if(CORVEX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
    # Tests scale their heavy loops down and skip what the sanitizers' own handlers take.
    add_compile_definitions(CORVEX_SANITIZED=1)
  endif()
  if(CORVEX_FUZZ)
    # Coverage instrumentation for every library, so that libFuzzer sees the readers' code
    # and not only the fuzz target's own file.
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
endmacro()

# Unity builds: a library's or test program's sources compile in batches of
# CORVEX_UNITY_BATCH files, which parses the shared headers once per batch rather than once
# per file. A file that cannot share a batch sets SKIP_UNITY_BUILD_INCLUSION.
function(corvex_unity target)
  if(CORVEX_UNITY_BATCH GREATER 0)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${CORVEX_UNITY_BATCH})
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
      # A batch includes its .cpp files, so g++ takes a class of one of them that uses a type
      # from its anonymous namespace for a header's class; in a source file that is normal.
      target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
    endif()
  endif()
endfunction()

# Precompiled headers pay where files compile one by one (the development tree). A unity
# batch parses its headers once anyway, and there building the header cost more than it
# saved (measured on both compilers), so unity trees go without.
function(corvex_precompile target)
  if(ARGN AND NOT CORVEX_UNITY_BATCH GREATER 0)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()

# Product code compiles with the strict Qt defines; tests relax them.
set(CORVEX_STRICT_QT_DEFINES
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_KEYWORDS
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_URL_CAST_FROM_STRING)

# corvex_add_library(<name> SOURCES ... [PUBLIC_DEPS ...] [PRIVATE_DEPS ...] [PCH ...])
# Every layer is one static library; its headers are included as "<layer>/<Header>.h"
# from the repository root.
function(corvex_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS;PCH" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  corvex_unity(${name})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  target_compile_definitions(${name} PRIVATE ${CORVEX_STRICT_QT_DEFINES})
  corvex_precompile(${name} ${ARG_PCH})
endfunction()

# corvex_register_dlopen_module(<target>): a shared library of Corvex that the application
# opens with dlopen rather than links. corvex_write_product_binaries lists it beside the
# application, so that the legal-notices test reads the libraries it links too.
function(corvex_register_dlopen_module target)
  set_property(GLOBAL APPEND PROPERTY CORVEX_DLOPEN_MODULES ${target})
endfunction()

# corvex_write_product_binaries(<file>): the application and every registered module, one
# path a line, written at generation; tests that read it depend on every module. Called
# once, after every folder was added.
function(corvex_write_product_binaries file)
  get_property(modules GLOBAL PROPERTY CORVEX_DLOPEN_MODULES)
  set(content "$<TARGET_FILE:corvex>\n")
  foreach(module ${modules})
    string(APPEND content "$<TARGET_FILE:${module}>\n")
  endforeach()
  file(GENERATE OUTPUT ${file} CONTENT "${content}")
  if(modules AND TARGET corvex_shell_tests)
    add_dependencies(corvex_shell_tests ${modules})
  endif()
endfunction()

# corvex_add_test(<name> SOURCES ... LIBS ... [GUI | WIDGETS] [TIMEOUT <seconds>])
# One GoogleTest executable; tests are discovered when ctest runs (PRE_TEST), so a build
# never has to execute a test binary. GUI selects the main that makes a QGuiApplication
# (needed wherever fonts are measured or drawn); WIDGETS a QApplication (real widgets).
# Each test may run 600 s unless TIMEOUT says otherwise (soaks at full count).
function(corvex_add_test name)
  cmake_parse_arguments(ARG "GUI;WIDGETS" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  corvex_unity(${name})
  if(ARG_WIDGETS)
    target_link_libraries(${name} PRIVATE corvex_test_main_widgets)
  elseif(ARG_GUI)
    target_link_libraries(${name} PRIVATE corvex_test_main_gui)
  else()
    target_link_libraries(${name} PRIVATE corvex_test_main_core)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} corvex_test_support corvex_sanitizer_defaults GTest::gtest GTest::gmock)
  corvex_precompile(${name} <gtest/gtest.h> <QString> <QByteArray> <functional> <memory>)
  # Test bodies (large, macro-heavy) compile two to three times faster unoptimised, most of
  # all under the sanitizers; the code under test keeps the tree's flags.
  target_compile_options(${name} PRIVATE -O0)
  # One variable only: gtest_discover_tests loses the separators of a list here.
  set(env "CORVEX_TEST_OUTPUT=${CMAKE_BINARY_DIR}/test-output")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${ARG_TIMEOUT})
endfunction()

# corvex_add_fuzz(<name> SOURCES ... LIBS ...)
# The corpus lives in fuzz/corpus/<name>/. Without CORVEX_FUZZ the target links a small
# main that replays files, so every compiler builds and runs it.
set_property(GLOBAL PROPERTY CORVEX_FUZZ_TARGETS "")
function(corvex_add_fuzz name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} corvex_sanitizer_defaults)
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  if(CORVEX_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_link_libraries(${name} PRIVATE corvex_fuzz_replay_main)
    if(CORVEX_BUILD_TESTS)
      add_test(NAME fuzz_replay.${name} COMMAND ${name} ${corpus})
    endif()
  endif()
  set_property(GLOBAL APPEND PROPERTY CORVEX_FUZZ_TARGETS "${name}=${corpus}")
endfunction()

# corvex_add_benchmark(<name> SOURCES ... LIBS ...)
function(corvex_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} corvex_bench_support)
  set_property(GLOBAL APPEND PROPERTY CORVEX_BENCHMARKS "${name}")
endfunction()
