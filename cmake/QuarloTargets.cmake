# Build helpers shared by the product, the tests, the fuzzers and the benchmarks.

# Product code: no exceptions, no RTTI, every warning an error. Each function and object in a
# section of its own, so that the linker can leave out what the launcher never reaches. Stack
# canaries in every function with an array or an address-taken local; on Windows the canary and
# its check are the launcher's own (src/launch/stack_guard_win32.cpp), not libssp's. The build's
# date, time and source path never reach the code, so that a rebuild of one commit anywhere
# gives the same bytes.
function(quarlo_product_flags target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -fno-exceptions -fno-rtti
    -ffunction-sections -fdata-sections -fstack-protector-strong -Werror=date-time
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
endfunction()

# The shipped executable: no symbols, no unreferenced code or data. The launcher hashes every
# byte of its own file to check its signature, and maps it at every start. A time stamp of 0 in
# the header instead of the link time, so that the image depends on its sources alone. The link
# map beside it shows what the stripped image was made of.
function(quarlo_shipped_image target)
  target_link_options(${target} PRIVATE -s -Wl,--gc-sections -Wl,--no-insert-timestamp
    -Wl,-Map=$<TARGET_FILE:${target}>.map)
endfunction()

# quarlo_delay_import(NAME DEF): an interface library NAME that imports the functions listed in
# cmake/delay/DEF.def from their DLL on first call instead of at process start. The DLL is found
# through the default search, which start-up has limited to System32 before the first call. A
# function the list lacks fails to link rather than bringing the DLL back into start-up.
function(quarlo_delay_import name def)
  set(input ${CMAKE_SOURCE_DIR}/cmake/delay/${def}.def)
  set(output ${CMAKE_BINARY_DIR}/delay/lib${def}_delay.a)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delay
    COMMAND ${CMAKE_DLLTOOL} --input-def ${input} --output-delaylib ${output}
    DEPENDS ${input}
    COMMENT "Delay-import library for ${def}.dll" VERBATIM)
  add_custom_target(${name}_library DEPENDS ${output})
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${output})
  add_dependencies(${name} ${name}_library)
endfunction()

# GoogleTest from Debian's source package, built for the current target.
macro(quarlo_add_googletest)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endmacro()

# quarlo_unit_test(NAME SOURCES files... [WINDOWS_ONLY] [LIBS libs...])
# One executable per subsystem, one ctest entry per executable (a Wine process is slow to start).
function(quarlo_unit_test name)
  cmake_parse_arguments(T "WINDOWS_ONLY" "" "SOURCES;LIBS" ${ARGN})
  if(T_WINDOWS_ONLY AND NOT WIN32)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE quarlo_lib GTest::gtest_main ${T_LIBS})
  target_compile_options(${name} PRIVATE -Wall -Wextra -Werror)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()

# quarlo_wine10_test(TARGET FILTER): the cases of the unit test TARGET matching the GoogleTest
# FILTER once more, under Debian 13's Wine 10 (cmake/wine10-run.sh), as the ctest entry
# TARGET_wine10 labelled wine10. They are the cases that need ECDSA signatures, which the Wine 8
# entry skips. The entry is skipped when no Debian 13 root is ready; a case skipped or a filter
# matching nothing inside it is a failure.
function(quarlo_wine10_test target filter)
  add_test(NAME ${target}_wine10
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine10-run.sh ${CMAKE_BINARY_DIR}/wineprefix10
            ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} $<TARGET_FILE:${target}> --gtest_filter=${filter})
  set_tests_properties(${target}_wine10 PROPERTIES LABELS wine10 SKIP_RETURN_CODE 77
    FAIL_REGULAR_EXPRESSION "Running 0 tests|\\[  SKIPPED \\]" TIMEOUT 600)
endfunction()

# Adds every subdirectory of the current source directory that has a CMakeLists.txt.
function(quarlo_add_subdirectories)
  file(GLOB children CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(child ${children})
    get_filename_component(dir ${child} DIRECTORY)
    add_subdirectory(${dir})
  endforeach()
endfunction()

# quarlo_fuzz_target(NAME SOURCES files... CORPUS dir [SECONDS n])
# The test runs the fuzzer for a bounded time over a working copy of the seed corpus
# and fails on any crash, sanitizer report or leak.
function(quarlo_fuzz_target name)
  cmake_parse_arguments(F "" "CORPUS;SECONDS" "SOURCES" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS 20)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE quarlo_lib)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  add_test(NAME ${name}
    COMMAND sh -c "mkdir -p '${work}' && exec \"$0\" -max_total_time=${F_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 '${work}' '${F_CORPUS}'"
            $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300)
endfunction()
