# Content downloads and folder helpers, against the loopback fake content site.
file(GLOB VEXA_DOWNLOAD_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/download/*.cpp)
vexa_add_test(NAME download_test
  SOURCES ${VEXA_DOWNLOAD_TEST_SOURCES}
  LIBS vexa_download vexa_platform_http vexa_test_fakes
  LABELS "unit;server"
  TIMEOUT 120)
