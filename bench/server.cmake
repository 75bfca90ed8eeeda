# The embedded server against nginx and python3 -m http.server on loopback (wrk, curl), a cold
# miss against curl and a bare libcurl relay, and a first lesson over a delayed link against
# curl; prints requests/s, p99 latency and ratios.
if(TARGET vexa_server)
  add_executable(vexa_bench_trivial_server ${CMAKE_CURRENT_LIST_DIR}/server/TrivialServerMain.cpp)
  target_link_libraries(vexa_bench_trivial_server PRIVATE vexa_server)
  add_executable(vexa_bench_http_server ${CMAKE_CURRENT_LIST_DIR}/server/HttpServerMain.cpp)
  target_link_libraries(vexa_bench_http_server PRIVATE vexa_server)
  add_executable(vexa_bench_relay ${CMAKE_CURRENT_LIST_DIR}/server/RelayMain.cpp)
  target_link_libraries(vexa_bench_relay PRIVATE PkgConfig::VEXA_HTTP_CURL)
  find_package(Python3 COMPONENTS Interpreter)
  if(Python3_Interpreter_FOUND)
    add_test(NAME bench_server
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/server/server_bench.py
              $<TARGET_FILE:vexa_bench_trivial_server> $<TARGET_FILE:vexa_bench_http_server> 3 3
              $<TARGET_FILE:vexa_bench_relay>)
    set_tests_properties(bench_server PROPERTIES LABELS "bench" TIMEOUT 600)
    # A first lesson fetched through the file server from a site 50 ms away, against curl.
    add_test(NAME bench_lesson
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/server/lesson_bench.py
              $<TARGET_FILE:vexa_bench_http_server> 5)
    set_tests_properties(bench_lesson PROPERTIES LABELS "bench" TIMEOUT 900)
  endif()
endif()
