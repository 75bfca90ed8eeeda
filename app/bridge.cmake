# The command bridge between the movie and the host, with the upload record and window-mode flag.
add_library(vexa_app_bridge STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CFlashBridge.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OSVersion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UploadParams.cpp)
target_link_libraries(vexa_app_bridge PUBLIC vexa_xml vexa_platform_core)
