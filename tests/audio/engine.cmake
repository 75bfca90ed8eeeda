# The recorder engine, WAV files, playback and the volume probe on simulated devices; and the
# same engine through ALSA and the paced test device.
file(GLOB VEXA_AUDIO_ENGINE_UNIT CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/engine/*Test.cpp)
list(FILTER VEXA_AUDIO_ENGINE_UNIT EXCLUDE REGEX "Alsa[A-Za-z]*Test\\.cpp$")
vexa_add_test(NAME audio_engine_test
  SOURCES ${VEXA_AUDIO_ENGINE_UNIT} ${CMAKE_CURRENT_SOURCE_DIR}/engine/EngineFixture.cpp
  LIBS vexa_audio vexa_test_fakes vexa_platform_audio
  LABELS "unit;audio")

if(TARGET vexa_platform_alsa AND TARGET vexa_platform_glib AND TARGET asound_module_pcm_vexapaced)
  add_executable(audio_record_until_killed ${CMAKE_CURRENT_SOURCE_DIR}/engine/RecordUntilKilled.cpp)
  target_link_libraries(audio_record_until_killed PRIVATE vexa_audio vexa_platform_alsa vexa_platform_glib)
  vexa_add_test(NAME audio_alsa_engine_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/engine/AlsaEngineTest.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/engine/AlsaFixture.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/engine/EngineFixture.cpp
    LIBS vexa_audio vexa_platform_alsa vexa_platform_glib vexa_test_fakes vexa_platform_audio
    LABELS "integration;audio"
    TIMEOUT 90)
  target_compile_definitions(audio_alsa_engine_test PRIVATE
    VEXA_ALSA_PACED_MODULE="${VEXA_ALSA_PACED_MODULE}"
    VEXA_ALSA_PACED_CONFIG_TOOL="${VEXA_ALSA_PACED_CONFIG_TOOL}"
    VEXA_RECORD_UNTIL_KILLED="$<TARGET_FILE:audio_record_until_killed>")
  add_dependencies(audio_alsa_engine_test asound_module_pcm_vexapaced audio_record_until_killed)
endif()

if(TARGET vexa_platform_alsa AND TARGET vexa_platform_glib)
  vexa_add_test(NAME audio_alsa_mixer_test
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/engine/AlsaMixerTest.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/engine/EngineFixture.cpp
    LIBS vexa_audio vexa_platform_alsa vexa_platform_glib vexa_test_fakes vexa_platform_audio
    LABELS "integration;audio"
    TIMEOUT 60)
endif()
