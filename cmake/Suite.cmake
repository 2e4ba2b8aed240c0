# Build helpers shared by every module. See CONTRIBUTING.md for how a module uses them.
#
#   suite_core(<name> <sources...>)            platform-neutral static library (all presets)
#   suite_library(<name> <sources...>)         static library of Windows code
#   suite_dll(<name> DEF <file> SOURCES ... [LIBS ...] [OUTPUT_NAME n] [NO_RUNTIME])
#                                              NO_RUNTIME: linked without the C runtime
#   suite_resource_dll(<name> RC <file> [WIDTH 32|64] [OUTPUT_NAME n] [OUTPUT_DIR d] [DEPENDS ...])
#   suite_objects(<name> <sources...>)          object library of Windows code
#   suite_kernel_objects(<name> <sources...>)   object library of kernel-mode code
#   suite_kernel_headers(<target>)             the kernel headers, for code that builds them
#   suite_driver(<name> SOURCES ... [LIBS ...])   32-bit kernel-mode .sys
#   suite_program(<name> [GUI] SOURCES ... [LIBS ...])
#   suite_test(<name> SOURCES ... [LIBS ...] [SERIAL] [LABELS ...] [ARGS ...] [RUN_WITH cmd ...])
#   suite_check(<name> COMMAND cmd ... [SERIAL] [WINE_SKIP] [TIMEOUT s] [LABELS ...] [RESOURCE_LOCK ...]
#               [FIXTURES_SETUP ...] [FIXTURES_CLEANUP ...] [FIXTURES_REQUIRED ...] [ENVIRONMENT ...])
#                                              any other command as a test (script, second run)
#   suite_no_test_hooks(<target>)              build fails when the binary holds a test hook
#
# Deliverables of a width land in ${SUITE_BIN_DIR}, laid out as they are copied onto a PC;
# test programs land in ${SUITE_TEST_DIR}.

set(SUITE_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(SUITE_BIN_DIR  ${CMAKE_BINARY_DIR}/bin)
set(SUITE_TEST_DIR ${CMAKE_BINARY_DIR}/tests)
file(MAKE_DIRECTORY ${SUITE_BIN_DIR} ${SUITE_TEST_DIR})

if(SUITE_PRESET STREQUAL "host")
  set(SUITE_HOST ON)
  set(SUITE_WINDOWS OFF)
else()
  set(SUITE_HOST OFF)
  set(SUITE_WINDOWS ON)
  enable_language(RC)
endif()

# The project's own code: warnings on and fatal.
set(SUITE_WARNINGS -Wall -Wextra -Werror)
if(SUITE_HOST)
  set(SUITE_SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${SUITE_SANITIZE})
  add_link_options(${SUITE_SANITIZE})
endif()

# Windows path of a Linux path, as Wine's Z: drive shows it.
function(suite_windows_path out path)
  string(REPLACE "/" "\\" win "${path}")
  set(${out} "Z:${win}" PARENT_SCOPE)
endfunction()

if(SUITE_WINDOWS)
  # The emulator that runs test programs: Wine with the build's own prefix.
  set(SUITE_WINEPREFIX ${CMAKE_SOURCE_DIR}/build/wineprefix CACHE PATH "Wine prefix of the tests")
  suite_windows_path(SUITE_BIN_DIR_WIN ${SUITE_BIN_DIR})
  suite_windows_path(SUITE_TESTDATA_DIR_WIN ${CMAKE_BINARY_DIR}/testdata)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/testdata)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
                 @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                 GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
  # The tools of each width, for targets built for the other width (gorwin beside velmar).
  set(SUITE_TRIPLE_32 i686-w64-mingw32)
  set(SUITE_TRIPLE_64 x86_64-w64-mingw32)
endif()

function(_suite_common target)
  target_compile_options(${target} PRIVATE ${SUITE_WARNINGS})
  if(SUITE_WINDOWS)
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX
                               _WIN32_WINNT=0x0601 WINVER=0x0601)
    # The owners of Windows resources (common/include/win_owners.h), for every module.
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/common/include)
  endif()
endfunction()

function(suite_core name)
  add_library(${name} STATIC ${ARGN})
  _suite_common(${name})
  # A core includes no Windows header; the host preset proves it.
  target_compile_definitions(${name} PRIVATE SUITE_CORE=1)
endfunction()

function(suite_library name)
  add_library(${name} STATIC ${ARGN})
  _suite_common(${name})
endfunction()

# Its objects reach only the targets that name it (a seam's hooks, linked directly).
function(suite_objects name)
  add_library(${name} OBJECT ${ARGN})
  _suite_common(${name})
endfunction()

# Kernel-mode code: no exceptions, RTTI, unwind tables, stack checks or guarded statics.
set(SUITE_KERNEL_OPTIONS -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -fno-stack-protector)

# The kernel headers (mingw-w64's DDK), for kernel code and the simulated kernel's tests.
function(suite_kernel_headers target)
  target_include_directories(${target} SYSTEM PRIVATE /usr/share/mingw-w64/include/ddk)
  # wdm.h defines these two itself; in C++ the intrinsic header's copies clash with it.
  target_compile_definitions(${target} PRIVATE __INTRINSIC_DEFINED_InterlockedBitTestAndSet
                             __INTRINSIC_DEFINED_InterlockedBitTestAndReset
                             NTDDI_WINVISTA=0x06000000)
endfunction()

# Kernel-mode objects, shared by a driver and the tests that run them on the simulated kernel.
# They target the kernel, not the Windows version of user-mode code (no _suite_common).
function(suite_kernel_objects name)
  add_library(${name} OBJECT ${ARGN})
  target_compile_options(${name} PRIVATE ${SUITE_WARNINGS} ${SUITE_KERNEL_OPTIONS})
  suite_kernel_headers(${name})
endfunction()

function(suite_dll name)
  cmake_parse_arguments(A "NO_RUNTIME" "DEF;OUTPUT_NAME;OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES} ${A_DEF})
  _suite_common(${name})
  if(SUITE_WINDOWS AND NOT A_NO_RUNTIME)
    # The entry point releases, at unload, what the statically linked thread library took
    # (cmake/dll_entry.cpp); it needs the DLL's TlsAlloc and TlsFree calls wrapped.
    target_sources(${name} PRIVATE ${SUITE_CMAKE_DIR}/dll_entry.cpp)
    if(SUITE_WIDTH EQUAL 32)
      set(entry _suite_dll_entry@12)
      set(wrapped _imp__TlsAlloc@0 _imp__TlsFree@4)
    else()
      set(entry suite_dll_entry)
      set(wrapped __imp_TlsAlloc __imp_TlsFree)
    endif()
    set(own ${entry})
    foreach(symbol ${wrapped})
      target_link_options(${name} PRIVATE -Wl,--wrap=${symbol})
      list(APPEND own __wrap_${symbol})
    endforeach()
    list(JOIN own ":" own)
    target_link_options(${name} PRIVATE -Wl,-e,${entry} -Wl,--exclude-symbols,${own})
  endif()
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  set(out ${name})
  if(A_OUTPUT_NAME)
    set(out ${A_OUTPUT_NAME})
  endif()
  set(dir ${SUITE_BIN_DIR})
  if(A_OUTPUT_DIR)
    set(dir ${A_OUTPUT_DIR})
  endif()
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${out}
    RUNTIME_OUTPUT_DIRECTORY ${dir}
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
  # Exports are named by the .def file; stdcall names stay undecorated.
  target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
endfunction()

function(suite_program name)
  cmake_parse_arguments(A "GUI" "OUTPUT_NAME;OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  _suite_common(${name})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  if(A_GUI)
    set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
  set(dir ${SUITE_BIN_DIR})
  if(A_OUTPUT_DIR)
    set(dir ${A_OUTPUT_DIR})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
  if(A_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${A_OUTPUT_NAME})
  endif()
endfunction()

# A DLL with no code: resources only, no entry point, no runtime.
# WIDTH names the width the DLL is built for when it differs from the preset's
# (the 32-bit typeface module ships beside the x64 application).
function(suite_resource_dll name)
  cmake_parse_arguments(A "" "RC;WIDTH;OUTPUT_NAME;OUTPUT_DIR" "DEPENDS;INCLUDES" ${ARGN})
  set(out ${name}.dll)
  set(dir ${SUITE_BIN_DIR})
  if(A_OUTPUT_DIR)
    set(dir ${A_OUTPUT_DIR})
  endif()
  if(A_OUTPUT_NAME)
    set(out ${A_OUTPUT_NAME})
  endif()
  if(NOT A_WIDTH)
    set(A_WIDTH ${SUITE_WIDTH})
  endif()
  set(triple ${SUITE_TRIPLE_${A_WIDTH}})
  get_filename_component(rc ${A_RC} ABSOLUTE)
  set(includes)
  foreach(dir ${A_INCLUDES})
    get_filename_component(d ${dir} ABSOLUTE)
    list(APPEND includes -I${d})
  endforeach()
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${name}.res.o)
  add_custom_command(OUTPUT ${res}
    COMMAND ${triple}-windres ${includes} -I${CMAKE_CURRENT_SOURCE_DIR} -i ${rc} -o ${res}
    DEPENDS ${rc} ${A_DEPENDS}
    COMMENT "windres ${name} (${A_WIDTH}-bit)")
  add_custom_command(OUTPUT ${dir}/${out}
    COMMAND ${triple}-gcc -shared -nostdlib -Wl,-e,0 -Wl,--no-insert-timestamp
            -o ${dir}/${out} ${res}
    DEPENDS ${res}
    COMMENT "link resource-only ${out} (${A_WIDTH}-bit)")
  add_custom_target(${name} ALL DEPENDS ${dir}/${out})
endfunction()

# A 32-bit kernel-mode driver (.sys) with DriverEntry as its entry point.
function(suite_driver name)
  cmake_parse_arguments(A "" "OUTPUT_NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  _suite_common(${name})
  target_compile_options(${name} PRIVATE ${SUITE_KERNEL_OPTIONS})
  suite_kernel_headers(${name})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  target_link_options(${name} PRIVATE -shared -nostdlib -nostartfiles
    -Wl,--subsystem,native -Wl,--entry,_DriverEntry@8 -Wl,--image-base,0x10000
    -Wl,--exclude-all-symbols)
  # ntoskrnl and hal go last so the objects' references resolve against them.
  target_link_libraries(${name} PRIVATE ntoskrnl hal gcc)
  set(out ${name})
  if(A_OUTPUT_NAME)
    set(out ${A_OUTPUT_NAME})
  endif()
  set_target_properties(${name} PROPERTIES OUTPUT_NAME ${out} SUFFIX ".sys"
    RUNTIME_OUTPUT_DIRECTORY ${SUITE_BIN_DIR})
  # Plain -static would pull the CRT's start-up objects in.
  set_property(TARGET ${name} PROPERTY LINK_FLAGS "")
endfunction()

# A GoogleTest program, one CTest test, run under Wine on Windows presets.
# RUN_WITH names a wrapper that starts what the program needs beside it (a peer, a server):
# the test runs `<wrapper...> [wine-run] <program> <ARGS...>`.
function(suite_test name)
  cmake_parse_arguments(A "SERIAL;NO_MAIN" "TIMEOUT"
    "SOURCES;LIBS;LABELS;ARGS;DEPENDS;RESOURCE_LOCK;FIXTURES_REQUIRED;RUN_WITH" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  _suite_common(${name})
  if(A_NO_MAIN)
    target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest suite_test_main)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${SUITE_TEST_DIR})
  if(A_DEPENDS)
    add_dependencies(${name} ${A_DEPENDS})
  endif()
  set(test ${SUITE_PRESET}.${name})
  if(A_RUN_WITH)
    set(program $<TARGET_FILE:${name}>)
    if(SUITE_WINDOWS)
      set(program ${CMAKE_BINARY_DIR}/wine-run ${program})
    endif()
    add_test(NAME ${test} COMMAND ${A_RUN_WITH} ${program} ${A_ARGS})
  else()
    add_test(NAME ${test} COMMAND ${name} ${A_ARGS})
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  if(SUITE_WIDTH EQUAL 32 AND A_TIMEOUT LESS 1500)
    # 32-bit programs may start under qemu's emulation, slowly on a busy machine.
    set(A_TIMEOUT 1500)
  endif()
  set_tests_properties(${test} PROPERTIES TIMEOUT ${A_TIMEOUT} LABELS "${SUITE_PRESET};${A_LABELS}")
  if(SUITE_WINDOWS)
    # The Wine wrapper exits 77 where this machine cannot run the width's programs.
    set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
  if(A_SERIAL)
    set_tests_properties(${test} PROPERTIES RUN_SERIAL ON)
  endif()
  if(A_RESOURCE_LOCK)
    set_tests_properties(${test} PROPERTIES RESOURCE_LOCK "${A_RESOURCE_LOCK}")
  endif()
  if(A_FIXTURES_REQUIRED)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED "${A_FIXTURES_REQUIRED}")
  endif()
endfunction()

# A test that runs a command other than one GoogleTest program with its defaults: a script
# check, a second run of a test program with another filter, a benchmark's smoke run.
# A command whose first word is a target built for Windows runs under wine-run (add_test's
# emulator for a target name). TIMEOUT defaults to 300 s, 1500 s for 32-bit presets.
function(suite_check name)
  set(keywords SERIAL WINE_SKIP TIMEOUT LABELS RESOURCE_LOCK FIXTURES_SETUP FIXTURES_CLEANUP
      FIXTURES_REQUIRED ENVIRONMENT)
  # The command's words go to add_test as bracket arguments, each exactly as written: expanded
  # from a list, a word with ";" or an unmatched "]" (a regular expression) would be split or
  # joined.
  set(command)
  set(rest)
  set(in_command OFF)
  math(EXPR last "${ARGC} - 1")
  foreach(i RANGE 1 ${last})
    set(arg "${ARGV${i}}")
    if(arg STREQUAL "COMMAND")
      set(in_command ON)
    elseif(arg IN_LIST keywords)
      set(in_command OFF)
      list(APPEND rest ${arg})
    elseif(in_command)
      if(arg MATCHES "]==]")
        message(FATAL_ERROR "suite_check(${name}): a command word holds \"]==]\": ${arg}")
      endif()
      string(APPEND command " [==[${arg}]==]")
    else()
      list(APPEND rest "${arg}")
    endif()
  endforeach()
  cmake_parse_arguments(A "SERIAL;WINE_SKIP" "TIMEOUT"
    "LABELS;RESOURCE_LOCK;FIXTURES_SETUP;FIXTURES_CLEANUP;FIXTURES_REQUIRED;ENVIRONMENT" ${rest})
  if(NOT command OR A_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "suite_check(${name}): COMMAND expected; unknown: ${A_UNPARSED_ARGUMENTS}")
  endif()
  set(test ${SUITE_PRESET}.${name})
  cmake_language(EVAL CODE "add_test(NAME ${test} COMMAND${command})")
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
    if(SUITE_WIDTH EQUAL 32)
      set(A_TIMEOUT 1500)
    endif()
  endif()
  set(labels ${SUITE_PRESET} ${A_LABELS})
  set_tests_properties(${test} PROPERTIES TIMEOUT ${A_TIMEOUT} LABELS "${labels}")
  # WINE_SKIP: the command passes on wine-run's 77 (a width this machine cannot run, as the
  # README says); any other test's 77 is a failure.
  if(SUITE_WINDOWS AND A_WINE_SKIP)
    set_tests_properties(${test} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
  if(A_SERIAL)
    set_tests_properties(${test} PROPERTIES RUN_SERIAL ON)
  endif()
  foreach(property RESOURCE_LOCK FIXTURES_SETUP FIXTURES_CLEANUP FIXTURES_REQUIRED ENVIRONMENT)
    if(A_${property})
      set_tests_properties(${test} PROPERTIES ${property} "${A_${property}}")
    endif()
  endforeach()
endfunction()

# Marks tests that need 32-bit Windows programs to run natively: on a machine where 32-bit
# Linux programs run only under qemu emulation, Wine's threads that wait on sockets and on its
# server die there, and such tests report themselves skipped. No effect on x64 tests.
function(suite_needs_native_32)
  if(SUITE_WIDTH EQUAL 32)
    foreach(test ${ARGN})
      set_property(TEST ${SUITE_PRESET}.${test} APPEND PROPERTY ENVIRONMENT SUITE_NEEDS_NATIVE_32=1)
    endforeach()
  endif()
endfunction()

# A deliverable that must hold no test hook: checked after each link with `strings` (see
# no_test_hooks.cmake); a hit fails the build.
function(suite_no_test_hooks target)
  if(SUITE_WIDTH EQUAL 32)
    set(strings ${SUITE_TRIPLE_32}-strings)
  else()
    set(strings ${SUITE_TRIPLE_64}-strings)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DSTRINGS=${strings} -DFILE=$<TARGET_FILE:${target}>
            -P ${CMAKE_SOURCE_DIR}/cmake/no_test_hooks.cmake
    COMMENT "check ${target} for test hooks")
endfunction()

# A smoke test that loads one deliverable of the width with LoadLibrary and frees it.
function(suite_load_test dll_target dll_file)
  set(name ${dll_target}_loads)
  suite_test(${name} SOURCES ${CMAKE_SOURCE_DIR}/testing/harness/load_dll_test.cpp DEPENDS ${dll_target})
  target_compile_definitions(${name} PRIVATE SUITE_DLL_FILE="${dll_file}")
endfunction()
