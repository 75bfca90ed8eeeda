# The host's multipart upload against `curl -F` on the same loopback sink; prints the time ratio.
# The sink lives with the test fakes, so this needs the test build.
find_program(VEXA_BENCH_CURL curl)
if(TARGET vexa_test_fakes AND VEXA_BENCH_CURL)
  add_executable(vexa_bench_upload ${CMAKE_CURRENT_LIST_DIR}/upload/UploadBench.cpp)
  target_link_libraries(vexa_bench_upload PRIVATE vexa_net vexa_test_fakes)
  add_test(NAME bench_upload COMMAND vexa_bench_upload)
  set_tests_properties(bench_upload PROPERTIES LABELS "bench;net" TIMEOUT 300)
endif()
