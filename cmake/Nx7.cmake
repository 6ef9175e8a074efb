# Test limits are multiplied by this (a sanitized build runs several times slower).
set(NX7_TEST_TIMEOUT_SCALE 1 CACHE STRING "Factor applied to every test's time limit")

# Compiler settings shared by every target of the project.
function(nx7_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# A static library made of the sources of one subsystem folder. The headers in the folder
# are its interface, on the include path of whoever links it; those under its internal/
# subfolder are for the folder alone. PUBLIC_LIBS: what the folder's own headers include;
# everything else is PRIVATE_LIBS, linked but kept off the users' include path.
function(nx7_add_library target)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/internal)
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/internal)
  endif()
  target_link_libraries(${target} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  nx7_target_defaults(${target})
endfunction()

# The programs of the sanitized run (scripts/run-sanitized-tests.sh): every test's but those
# it leaves to the plain run, so that it builds no more than it runs.
add_custom_target(sanitized_suite)

# One QtTest executable registered with ctest, run offscreen with a timeout
# so that a test stuck on a dialog fails quickly instead of hanging CI. OWN_X_SERVER: the
# test starts its own X server and runs on the real xcb platform, never offscreen.
# LABELS: ctest labels; "xserver" (implied by OWN_X_SERVER) marks a test whose weight is an
# X server of its own and waits for it to paint, which the sanitized run leaves to the plain
# one (scripts/run-sanitized-tests.sh).
function(nx7_add_test name)
  cmake_parse_arguments(ARG "OWN_X_SERVER" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test nx7_testsupport ${ARG_LIBS})
  nx7_target_defaults(${name})
  add_test(NAME ${name} COMMAND ${name})
  set(platform "QT_QPA_PLATFORM=offscreen;")
  if(ARG_OWN_X_SERVER)
    set(platform "QT_QPA_PLATFORM=xcb;")
    list(APPEND ARG_LABELS xserver)
  endif()
  math(EXPR timeout "${ARG_TIMEOUT} * ${NX7_TEST_TIMEOUT_SCALE}")
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${timeout}
    ENVIRONMENT "${platform}LC_ALL=C.UTF-8;TZ=Europe/Rome")
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(NOT xserver IN_LIST ARG_LABELS)
    add_dependencies(sanitized_suite ${name})
  endif()
endfunction()
