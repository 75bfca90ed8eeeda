# The recorder engine, WAV files, playback and the volume probe on simulated devices; and the
# same engine through ALSA and the paced test device.
file(GLOB VEXA_AUDIO_ENGINE_UNIT CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/engine/*Test.cpp)
list(FILTER VEXA_AUDIO_ENGINE_UNIT EXCLUDE REGEX "Alsa[A-Za-z]*Test\\.cpp$")
vexa_add_test(NAME audio_engine_test
  SOURCES ${VEXA_AUDIO_ENGINE_UNIT} ${CMAKE_CURRENT_SOURCE_DIR}/engine/EngineFixture.cpp
  LIBS vexa_audio vexa_test_fakes vexa_platform_audio
  LABELS "unit;audio")
