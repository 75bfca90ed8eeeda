# The paced ALSA test device: an external PCM plugin that alsa-lib loads by absolute path from a
# test's own ALSA configuration (tools/alsa-paced/write-config.sh writes one).
pkg_check_modules(ALSA_PACED_DEPS REQUIRED IMPORTED_TARGET alsa)
add_library(asound_module_pcm_vexapaced MODULE ${CMAKE_CURRENT_SOURCE_DIR}/alsa-paced/pcm_paced.c)
# Without PIC alsa-lib's plugin symbol macros refer to snd_dlsym_start, which does not resolve.
target_compile_definitions(asound_module_pcm_vexapaced PRIVATE PIC)
target_compile_options(asound_module_pcm_vexapaced PRIVATE -fPIC)
target_link_libraries(asound_module_pcm_vexapaced PRIVATE PkgConfig::ALSA_PACED_DEPS)
set_target_properties(asound_module_pcm_vexapaced PROPERTIES
  PREFIX "lib"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools/alsa-paced
  C_STANDARD 11)
set(VEXA_ALSA_PACED_MODULE ${CMAKE_BINARY_DIR}/tools/alsa-paced/libasound_module_pcm_vexapaced.so
    CACHE INTERNAL "The paced ALSA test device")
set(VEXA_ALSA_PACED_CONFIG_TOOL ${CMAKE_CURRENT_SOURCE_DIR}/alsa-paced/write-config.sh
    CACHE INTERNAL "Writes an ALSA configuration naming the paced device")
