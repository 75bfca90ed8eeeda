# The desktop program vexa: the application, its dialog and the movie's player control. The
# shell itself needs no toolkit (it sees the window and the player through interfaces), so its
# tests run in the headless builds too.
add_library(vexa_app_shell STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CAboutDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CMireloApp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CMireloDlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CShockwaveflash1.cpp)
target_link_libraries(vexa_app_shell PUBLIC
  vexa_app_bridge vexa_app_upkeep vexa_app_upload vexa_server vexa_download vexa_audio
  vexa_platform_core)

if(VEXA_GUI)
  add_executable(vexa ${CMAKE_CURRENT_LIST_DIR}/main.cpp ${CMAKE_CURRENT_LIST_DIR}/ExportedClasses.cpp)
  set_target_properties(vexa PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/app
    ENABLE_EXPORTS ON)
  target_link_libraries(vexa PRIVATE
    vexa_app_shell vexa_app_cli vexa_platform_glib vexa_platform_gtk vexa_platform_webkit
    vexa_platform_alsa vexa_platform_drawgtk vexa_net)
  # The recorder loads the encoder library from the program's folder: build it with the program.
  add_dependencies(vexa lame_enc)
  if(TARGET vexa_movie_host)
    add_dependencies(vexa vexa_movie_host)
  endif()
  include(GNUInstallDirs)
  install(TARGETS vexa RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
