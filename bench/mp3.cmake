# The MP3 output's UI-thread cost per capture buffer against the buffer's duration, and the
# encoder library against the `lame` command; prints both. Uses the simulated devices and the
# MP3 test helpers, so it needs the test build.
find_program(VEXA_BENCH_LAME lame)
if(TARGET vexa_mp3_test_support AND TARGET vexa_test_fakes AND TARGET vexa_audio AND VEXA_BENCH_LAME)
  add_executable(vexa_bench_mp3 ${CMAKE_CURRENT_LIST_DIR}/mp3/Mp3Bench.cpp)
  target_link_libraries(vexa_bench_mp3 PRIVATE vexa_audio vexa_mp3_test_support vexa_test_fakes
    vexa_platform_dynlib)
  target_compile_definitions(vexa_bench_mp3 PRIVATE LAME_ENC_DIR="$<TARGET_FILE_DIR:lame_enc>")
  add_dependencies(vexa_bench_mp3 lame_enc)
  add_test(NAME bench_mp3 COMMAND vexa_bench_mp3)
  set_tests_properties(bench_mp3 PROPERTIES LABELS "bench;audio" TIMEOUT 300)
endif()
