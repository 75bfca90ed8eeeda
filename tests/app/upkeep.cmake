# Local content upkeep and base folders, against the loopback fake content site.
file(GLOB VEXA_UPKEEP_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/upkeep/*.cpp)
vexa_add_test(NAME upkeep_test
  SOURCES ${VEXA_UPKEEP_TEST_SOURCES}
  LIBS vexa_app_upkeep vexa_test_fakes
  LABELS "unit;app"
  TIMEOUT 120)
