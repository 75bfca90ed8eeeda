# The waveform display draws through the platform's 2-D drawing service.
if(NOT TARGET vexa_platform_draw)
  add_subdirectory(${CMAKE_SOURCE_DIR}/platform/draw ${CMAKE_BINARY_DIR}/platform/draw)
endif()
target_link_libraries(vexa_audio PUBLIC vexa_platform_draw)
# Its developer's on-screen view, for the desktop program to install (VEXA_SHOW_WAVEFORM).
if(VEXA_GUI AND NOT TARGET vexa_platform_drawgtk)
  add_subdirectory(${CMAKE_SOURCE_DIR}/platform/drawgtk ${CMAKE_BINARY_DIR}/platform/drawgtk)
endif()
