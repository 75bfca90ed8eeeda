# Start-up benchmark: process start to the movie's first external call, vexa against a bare
# page that only loads the same movie in Ruffle in the same web view.
if(VEXA_GUI)
  add_executable(vexa_bench_bare_host ${CMAKE_CURRENT_LIST_DIR}/startup/BareHost.cpp)
  target_link_libraries(vexa_bench_bare_host PRIVATE vexa_platform_webkit vexa_platform_glib)
  add_dependencies(vexa_bench_bare_host vexa_movie_host)
endif()
