# Shared build rules: warnings, sanitizers, and helpers to declare programs,
# shared libraries loaded by name, and GoogleTest suites.

# -Wno-cast-function-type: GetProcAddress's result is cast to the export's own
# type, the one way a library loaded by name is called.
set(QX_WARNINGS -Wall -Wextra -Wshadow -Wno-unused-parameter -Wno-missing-field-initializers -Wno-cast-function-type)
if(QX_WERROR)
  list(APPEND QX_WARNINGS -Werror)
endif()

if(QX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# qx_target_defaults(target): warnings and include paths every suite target gets.
function(qx_target_defaults target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${QX_WARNINGS}>)
endfunction()

# qx_add_program(name SOURCES ... [LIBS ...]): a Win32-style program with WinMain.
# It links the drawing half of the layer and the sound library as needed only:
# a program that calls no drawing, display, control or sound function (a
# daemon, a service) does not load libqxdraw.so, libqxwinmm.so and their
# display, font and audio libraries at all.
function(qx_add_program name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_options(${name} PRIVATE -Wl,--as-needed)
  target_link_libraries(${name} PRIVATE qxwinmain ${P_LIBS} qxwinmm qxdraw qxplatform)
  qx_target_defaults(${name})
endfunction()

# qx_add_module(name SOURCES ... [LIBS ...]): a shared library the suite loads by
# name with LoadLibrary ("NAME.DLL" finds name.so beside the program).
function(qx_add_module name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${P_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden)
  target_link_options(${name} PRIVATE -Wl,--as-needed)
  target_link_libraries(${name} PRIVATE ${P_LIBS} qxwinmm qxdraw qxplatform)
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
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${T_LIBS} qxwinmm qxdraw qxplatform)
  qx_target_defaults(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QX_TEST_SOURCE_DIR=${CMAKE_SOURCE_DIR};QX_BIN_DIR=${CMAKE_BINARY_DIR}/bin;SDL_AUDIODRIVER=dummy")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# qx_add_help(program FILE): installs a program's help file (docs/help-files.md)
# beside the programs, where WinHelpA looks for it.
function(qx_add_help program file)
  get_filename_component(name ${file} NAME)
  configure_file(${file} ${CMAKE_BINARY_DIR}/bin/${name} COPYONLY)
endfunction()
