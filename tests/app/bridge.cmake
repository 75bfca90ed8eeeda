# The movie command bridge, against recording stand-ins of the control and the dialog.
vexa_add_test(NAME app_bridge_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/bridge/FlashBridgeTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/bridge/OSVersionTest.cpp
  LIBS vexa_app_bridge vexa_test_fakes
  LABELS "unit;app")
