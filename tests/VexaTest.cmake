# vexa_add_test(NAME name SOURCES ... LIBS ... LABELS ... [TIMEOUT s])
# Builds one GoogleTest executable and registers its cases with CTest. LABELS are used by the
# test command to pick suites (unit, server, integration, e2e).
function(vexa_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  # gtest_discover_tests flattens list-valued PROPERTIES, so labels are set from an include file
  # that runs after the discovered cases are known.
  gtest_discover_tests(${T_NAME} TEST_LIST ${T_NAME}_TESTS DISCOVERY_TIMEOUT 60)
  set(props ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_props.cmake)
  file(WRITE ${props}
    "if(${T_NAME}_TESTS)\n  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES LABELS \"${T_LABELS}\" TIMEOUT ${T_TIMEOUT})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${props})
endfunction()
