# The embedded server's tests. Label "server" also runs them under ThreadSanitizer.
add_library(vexa_server_test_support STATIC
  ${CMAKE_CURRENT_LIST_DIR}/LoopbackClient.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TestStateFolder.cpp)
target_link_libraries(vexa_server_test_support PUBLIC vexa_server)

vexa_add_test(NAME server_core_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/LogTest.cpp ${CMAKE_CURRENT_LIST_DIR}/GenericServerTest.cpp
  LIBS vexa_server_test_support vexa_server
  LABELS "unit;server"
  TIMEOUT 300)

vexa_add_test(NAME http_server_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HttpServerTest.cpp ${CMAKE_CURRENT_LIST_DIR}/PortProbeTest.cpp
  LIBS vexa_server_test_support vexa_server vexa_test_fakes
  LABELS "unit;server"
  TIMEOUT 120)
