vexa_add_test(NAME app_cli_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cli/CommandLineTest.cpp
  LIBS vexa_app_cli
  LABELS "unit;app")
