# Start-up benchmark: process start to the movie's first external call, vexa against a bare
# page that only loads the same movie in Ruffle in the same web view.
if(VEXA_GUI)
  add_executable(vexa_bench_bare_host ${CMAKE_CURRENT_LIST_DIR}/startup/BareHost.cpp)
  target_link_libraries(vexa_bench_bare_host PRIVATE vexa_platform_webkit vexa_platform_glib)
  add_dependencies(vexa_bench_bare_host vexa_movie_host)

  find_program(VEXA_BENCH_XVFB_RUN xvfb-run)
  if(TARGET vexa AND TARGET vexa_test_fakes AND TARGET vexa_e2e_movie AND VEXA_BENCH_XVFB_RUN)
    add_executable(vexa_bench_startup ${CMAKE_CURRENT_LIST_DIR}/startup/StartupBench.cpp)
    target_link_libraries(vexa_bench_startup PRIVATE vexa_test_fakes Threads::Threads)
    add_dependencies(vexa_bench_startup vexa vexa_bench_bare_host vexa_e2e_movie)
    add_test(NAME bench_startup
      COMMAND ${VEXA_BENCH_XVFB_RUN} -a -s "-screen 0 1024x768x24 -noreset"
              $<TARGET_FILE:vexa_bench_startup> $<TARGET_FILE:vexa>
              $<TARGET_FILE:vexa_bench_bare_host> ${CMAKE_BINARY_DIR}/tests/e2e/host/e2e-movie.swf 5)
    set_tests_properties(bench_startup PROPERTIES LABELS "bench;app" TIMEOUT 600)
  endif()
endif()
