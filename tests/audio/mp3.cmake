# The MP3 output and the encoder library: library-level tests against liblame_enc.so, and test
# builds of the library that lack an entry point or fail on request.
if(TARGET lame_enc)
  function(vexa_mp3_test_library name folder)
    lame_enc_add_library(${name} ${CMAKE_CURRENT_SOURCE_DIR}/mp3/PartialLameEnc.cpp)
    target_compile_definitions(${name} PRIVATE ${ARGN})
    set_target_properties(${name} PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${folder})
  endfunction()
  vexa_mp3_test_library(lame_enc_no_info_tag lame-no-info-tag OMIT_BE_WRITE_INFO_TAG)
  vexa_mp3_test_library(lame_enc_no_version lame-no-version OMIT_BE_VERSION)
  vexa_mp3_test_library(lame_enc_faulty lame-faulty WITH_FAULTS)

  set(VEXA_MP3_TEST_DEFINITIONS
    LAME_ENC_DIR="$<TARGET_FILE_DIR:lame_enc>"
    NO_INFO_TAG_DIR="$<TARGET_FILE_DIR:lame_enc_no_info_tag>"
    NO_VERSION_DIR="$<TARGET_FILE_DIR:lame_enc_no_version>"
    FAULTY_DIR="$<TARGET_FILE_DIR:lame_enc_faulty>")
  set(VEXA_MP3_TEST_LIBRARIES lame_enc lame_enc_no_info_tag lame_enc_no_version lame_enc_faulty)

  add_library(vexa_mp3_test_support STATIC mp3/Mp3TestSupport.cpp)

  vexa_add_test(NAME lame_enc_tests
    SOURCES mp3/LameEncLibraryTest.cpp
    LIBS vexa_mp3_test_support vexa_platform_dynlib
    LABELS "unit;audio;threads")
  target_compile_definitions(lame_enc_tests PRIVATE ${VEXA_MP3_TEST_DEFINITIONS})
  add_dependencies(lame_enc_tests ${VEXA_MP3_TEST_LIBRARIES})

  vexa_add_test(NAME dynlib_tests
    SOURCES mp3/DynamicLibraryTest.cpp
    LIBS vexa_mp3_test_support vexa_platform_dynlib vexa_encoder_digest
    LABELS "unit;platform")
  target_compile_definitions(dynlib_tests PRIVATE ${VEXA_MP3_TEST_DEFINITIONS})
  add_dependencies(dynlib_tests ${VEXA_MP3_TEST_LIBRARIES})
endif()

# The recorder's MP3 output on the simulated devices of the engine tests.
if(TARGET lame_enc AND TARGET vexa_audio AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/engine/EngineFixture.cpp)
  vexa_add_test(NAME mp3_output_tests
    SOURCES mp3/Mp3OutputTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/engine/EngineFixture.cpp
    LIBS vexa_mp3_test_support vexa_audio vexa_test_fakes vexa_platform_audio
    LABELS "unit;audio")
  target_compile_definitions(mp3_output_tests PRIVATE ${VEXA_MP3_TEST_DEFINITIONS})
  add_dependencies(mp3_output_tests ${VEXA_MP3_TEST_LIBRARIES})
endif()

# Through ALSA and the paced test device.
if(TARGET lame_enc AND TARGET vexa_platform_alsa AND TARGET vexa_platform_glib
   AND TARGET asound_module_pcm_vexapaced AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/engine/AlsaFixture.cpp)
  vexa_add_test(NAME mp3_alsa_tests
    SOURCES mp3/Mp3AlsaTest.cpp ${CMAKE_CURRENT_SOURCE_DIR}/engine/AlsaFixture.cpp
    LIBS vexa_mp3_test_support vexa_audio vexa_platform_alsa vexa_platform_glib vexa_test_fakes
    LABELS "integration;audio"
    TIMEOUT 60)
  target_compile_definitions(mp3_alsa_tests PRIVATE ${VEXA_MP3_TEST_DEFINITIONS}
    VEXA_ALSA_PACED_MODULE="${VEXA_ALSA_PACED_MODULE}"
    VEXA_ALSA_PACED_CONFIG_TOOL="${VEXA_ALSA_PACED_CONFIG_TOOL}")
  add_dependencies(mp3_alsa_tests asound_module_pcm_vexapaced ${VEXA_MP3_TEST_LIBRARIES})
endif()
