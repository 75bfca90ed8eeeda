# The recorder/player engine with its WAV, MP3, playback and display parts and the volume probe:
# every source of this folder.
file(GLOB VEXA_AUDIO_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
add_library(vexa_audio STATIC ${VEXA_AUDIO_SOURCES})
target_link_libraries(vexa_audio PUBLIC vexa_platform_core vexa_platform_audio ${CMAKE_DL_LIBS})
