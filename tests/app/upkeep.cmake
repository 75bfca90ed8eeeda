# Local content upkeep and base folders, against the loopback fake content site.
file(GLOB VEXA_UPKEEP_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/upkeep/*.cpp)
vexa_add_test(NAME upkeep_test
  SOURCES ${VEXA_UPKEEP_TEST_SOURCES}
  LIBS vexa_app_upkeep vexa_test_fakes
  LABELS "unit;app"
  TIMEOUT 120)
# The encoder download keeps only the library this build made: the tests serve that very file.
target_compile_definitions(upkeep_test PRIVATE LAME_ENC_PATH="$<TARGET_FILE:lame_enc>")
add_dependencies(upkeep_test lame_enc)
