# Content downloads and folder helpers, shared by the HTTP server and the content upkeep.
if(NOT TARGET vexa_platform_http)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/../platform/http ${CMAKE_BINARY_DIR}/platform/http)
endif()
add_library(vexa_download STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DownloadHelpers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ContentSite.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CSiteOutage.cpp)
target_link_libraries(vexa_download PUBLIC vexa_platform_core Threads::Threads PRIVATE vexa_platform_http)
