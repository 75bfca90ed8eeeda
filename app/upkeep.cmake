# Local content upkeep and the program's base folders.
add_library(vexa_app_upkeep STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ContentUpkeep.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AppFolders.cpp)
# The encoder download vets what it fetches with the digest the build compiled in, and says in the
# run log why it discarded a library.
target_link_libraries(vexa_app_upkeep PUBLIC vexa_download vexa_xml vexa_platform_core
  vexa_platform_dynlib vexa_encoder_digest vexa_server Threads::Threads)
