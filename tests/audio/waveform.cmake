# The engine's waveform display, rendered offscreen on simulated devices.
if(TARGET vexa_audio AND TARGET vexa_platform_draw AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/engine/EngineFixture.cpp)
  vexa_add_test(NAME waveform_display_tests
    SOURCES waveform/WaveformDisplayTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/engine/EngineFixture.cpp
    LIBS vexa_audio vexa_platform_draw vexa_test_fakes vexa_platform_audio
    LABELS "unit;audio")
endif()
