# Local content upkeep and the program's base folders.
add_library(vexa_app_upkeep STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ContentUpkeep.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AppFolders.cpp)
target_link_libraries(vexa_app_upkeep PUBLIC vexa_download vexa_xml vexa_platform_core Threads::Threads)
