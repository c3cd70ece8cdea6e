# Shared build rules: warnings, sanitizers, and helpers to declare programs,
# shared libraries loaded by name, and GoogleTest suites.

# -Wno-cast-function-type: GetProcAddress's result is cast to the export's own
# type, the one way a library loaded by name is called.
set(QX_WARNINGS -Wall -Wextra -Wshadow -Wno-unused-parameter -Wno-missing-field-initializers -Wno-cast-function-type)
if(QX_WERROR)
  list(APPEND QX_WARNINGS -Werror)
endif()
# GCC 12, Debian 12's compiler, warns falsely at -O3 inside libstdc++'s inlined
# std::string and std::vector code (GCC bugs 105329 and 105651): "a" + str,
# str = "x" and comparisons of byte vectors read to it as overlapping or
# over-long copies, in some ninety places of ordinary code. Release builds on
# GCC 12 leave out these two checks; every other build keeps them.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND QX_WARNINGS $<$<CONFIG:Release>:-Wno-restrict> $<$<CONFIG:Release>:-Wno-stringop-overread>)
endif()

if(QX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# One C++ runtime per process, and no libstdc++.so to load and relocate at
# every start (a daemon process per connection pays that each time):
# libqxplatform.so links the parts of libstdc++ it uses in and exports them
# (qxplatform.map), and every other program and library of the suite takes
# those from there. The unwinder stays the shared libgcc_s.so.1 for all:
# pthread_exit and cancellation unwind with it, and the personality routine
# must work on the unwinder's own frames.
add_link_options(-static-libstdc++)
# The layer as a library the binary needs even under --as-needed: dropped, the
# C++ runtime references of the suite's other libraries it links (the sound
# library, the drawing half) would be filled from libstdc++.a, a second copy.
set(QX_LAYER_ALWAYS "-Wl,--push-state,--no-as-needed" qxplatform "-Wl,--pop-state")

# qx_target_defaults(target): warnings and include paths every suite target gets.
function(qx_target_defaults target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${QX_WARNINGS}>)
endfunction()

# qx_add_program(name [NO_DISPLAY] SOURCES ... [LIBS ...]): a Win32-style program
# with WinMain. It links the drawing half of the layer and the sound library as
# needed only: a program that calls no drawing, display, control or sound
# function does not load libqxdraw.so, libqxwinmm.so and their display, font
# and audio libraries at all.
# NO_DISPLAY (daemons, services, command-line tools) does not link them itself,
# and the test "no_display_programs" checks that nothing the program loads at
# start needs them, whatever its other libraries bring.
function(qx_add_program name)
  cmake_parse_arguments(P "NO_DISPLAY" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_options(${name} PRIVATE -Wl,--as-needed)
  if(P_NO_DISPLAY)
    target_link_libraries(${name} PRIVATE qxwinmain ${P_LIBS} ${QX_LAYER_ALWAYS})
    set_property(GLOBAL APPEND PROPERTY QX_NO_DISPLAY_PROGRAMS ${name})
  else()
    target_link_libraries(${name} PRIVATE qxwinmain ${P_LIBS} qxwinmm qxdraw ${QX_LAYER_ALWAYS})
  endif()
  qx_target_defaults(${name})
endfunction()

# The check of every NO_DISPLAY program (and of any target added to the global
# property QX_NO_DISPLAY_PROGRAMS by hand), added once all folders are read.
function(qx_add_no_display_check)
  get_property(programs GLOBAL PROPERTY QX_NO_DISPLAY_PROGRAMS)
  set(files)
  foreach(program ${programs})
    list(APPEND files $<TARGET_FILE:${program}>)
  endforeach()
  add_test(NAME no_display_programs COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-no-display.sh ${files})
  set_tests_properties(no_display_programs PROPERTIES TIMEOUT 60)
endfunction()
if(QX_TESTS)
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qx_add_no_display_check)
  # Every binary that loads the layer takes its C++ runtime from it.
  add_test(NAME cxx_runtime_once COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-cxx-runtime.sh ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(cxx_runtime_once PROPERTIES TIMEOUT 300)
endif()

# qx_add_module(name SOURCES ... [LIBS ...]): a shared library the suite loads by
# name with LoadLibrary ("NAME.DLL" finds name.so beside the program).
function(qx_add_module name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${P_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden)
  target_link_options(${name} PRIVATE -Wl,--as-needed -Wl,--no-undefined)
  target_link_libraries(${name} PRIVATE ${P_LIBS} qxwinmm qxdraw ${QX_LAYER_ALWAYS})
  qx_target_defaults(${name})
endfunction()

# qx_add_gtest(name SOURCES ... [LIBS ...] [TIMEOUT s] [LABELS ...]): one GoogleTest
# executable registered with CTest as a single test with a bounded run time.
function(qx_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT QX_TESTS)
    return()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main qxtestsupport ${T_LIBS} qxwinmm qxdraw qxplatform)
  qx_target_defaults(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QX_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR};QX_BIN_DIR=${CMAKE_BINARY_DIR}/bin;SDL_AUDIODRIVER=dummy")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# qx_add_fuzzer(name HARNESS file SOURCES ... [INCLUDES ...] SEEDS dir [SECONDS n] [MAX_LEN n]):
# a libFuzzer target built with clang (AddressSanitizer, UndefinedBehaviorSanitizer)
# straight from the parser's sources, without the layer (the harness stands in
# for the calls the parser makes), and a test that runs it for a bounded time
# from its seeds. Each source is compiled to an object of its own through
# CMAKE_CXX_COMPILER_LAUNCHER (ccache, when the build is configured with it),
# with its header dependencies, so a rebuild compiles only what changed and a
# cached build only links. Without clang the test fails and says what to install.
function(qx_add_fuzzer name)
  cmake_parse_arguments(F "" "HARNESS;SEEDS;SECONDS;MAX_LEN" "SOURCES;INCLUDES" ${ARGN})
  if(NOT QX_TESTS)
    return()
  endif()
  find_program(QX_CLANGXX NAMES clang++ clang++-14)
  if(NOT QX_CLANGXX)
    add_test(NAME ${name} COMMAND sh -c "echo 'clang++ is needed for the ${name} fuzzer (package clang)'; exit 1")
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 20)
  endif()
  if(NOT F_MAX_LEN)
    set(F_MAX_LEN 8192)
  endif()
  set(fuzzer ${CMAKE_BINARY_DIR}/bin/${name})
  set(flags -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined)
  set(includes)
  foreach(dir ${F_INCLUDES})
    list(APPEND includes -I${dir})
  endforeach()
  set(objects)
  foreach(source ${F_HARNESS} ${F_SOURCES})
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${source})
    string(MAKE_C_IDENTIFIER "${relative}" stem)
    set(object ${CMAKE_CURRENT_BINARY_DIR}/${name}.objects/${stem}.o)
    add_custom_command(OUTPUT ${object}
      COMMAND ${CMAKE_CXX_COMPILER_LAUNCHER} ${QX_CLANGXX} ${flags} ${includes} -MD -MF ${object}.d
              -c ${source} -o ${object}
      DEPENDS ${source}
      DEPFILE ${object}.d
      COMMENT "Compiling ${relative} for the ${name} fuzzer with clang")
    list(APPEND objects ${object})
  endforeach()
  add_custom_command(OUTPUT ${fuzzer}
    COMMAND ${QX_CLANGXX} -fsanitize=fuzzer,address,undefined ${objects} -o ${fuzzer}
    DEPENDS ${objects}
    COMMENT "Linking the ${name} fuzzer with clang")
  add_custom_target(${name}_build ALL DEPENDS ${fuzzer})
  add_test(NAME ${name}
    COMMAND sh -c "mkdir -p \"$0\" && exec \"$1\" -max_total_time=${F_SECONDS} -max_len=${F_MAX_LEN} -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \"$0\" \"$2\""
            ${CMAKE_BINARY_DIR}/${name}-corpus ${fuzzer} ${F_SEEDS})
  math(EXPR limit "${F_SECONDS} + 90")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${limit})
endfunction()

# qx_add_help(program FILE): installs a program's help file (docs/help-files.md)
# beside the programs, where WinHelpA looks for it.
function(qx_add_help program file)
  get_filename_component(name ${file} NAME)
  configure_file(${file} ${CMAKE_BINARY_DIR}/bin/${name} COPYONLY)
endfunction()
