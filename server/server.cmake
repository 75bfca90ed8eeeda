# The embedded server: run log, threaded TCP server, port probe and the HTTP file server.
if(NOT TARGET vexa_platform_net)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/../platform/net ${CMAKE_BINARY_DIR}/platform/net)
endif()

add_library(vexa_server STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CGenericServer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PortProbe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CHTTPServer.cpp)
target_link_libraries(vexa_server PUBLIC vexa_download vexa_platform_net vexa_platform_core
  Threads::Threads)
