# add_unit_test(NAME name SOURCES ... LIBS ... [LABELS ...] [GUI] [ROOT])
#
# Builds one GoogleTest executable, registers it with CTest and fixes its environment:
# a C locale with UTF-8, Qt's offscreen platform for GUI tests, and a label so that
# `ctest -L unit|gui|lab|e2e|fuzz` can pick a group. Tests marked ROOT use the network lab;
# they report themselves as skipped (exit code 77) when not run as root.
function(add_unit_test)
  cmake_parse_arguments(T "GUI;ROOT" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set(env "LANG=C.UTF-8" "LC_ALL=C.UTF-8")
  if(T_GUI)
    # Settings the window remembers go to a folder of the test's own, never the user's.
    list(APPEND env "QT_QPA_PLATFORM=offscreen"
      "XDG_CONFIG_HOME=${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}-config")
  endif()
  if(NOT T_LABELS)
    if(T_GUI)
      set(T_LABELS gui)
    else()
      set(T_LABELS unit)
    endif()
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    ENVIRONMENT "${env}"
    LABELS "${T_LABELS}"
    TIMEOUT ${T_TIMEOUT}
    SKIP_RETURN_CODE 77)
  if(T_ROOT)
    # Namespaces left behind by a crashed run are removed before and after the lab tests.
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED lab)
  endif()
endfunction()
