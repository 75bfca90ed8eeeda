# The program end to end under Xvfb: the real vexa against a loopback fake content site and
# upload sink, playing a test movie of our own (Haxe, compiled here) that calls every command,
# registers "UPOK" and reports each answer with a GET through the local server.
if(VEXA_GUI AND TARGET vexa)
  find_program(VEXA_HAXE haxe)
  find_program(VEXA_XVFB_RUN xvfb-run)
  if(NOT VEXA_HAXE OR NOT VEXA_XVFB_RUN)
    message(WARNING "e2e: haxe or xvfb-run missing; the program's end-to-end test is not built")
    return()
  endif()
  set(e2e_movie ${CMAKE_CURRENT_BINARY_DIR}/host/e2e-movie.swf)
  add_custom_command(OUTPUT ${e2e_movie}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/host
    COMMAND ${VEXA_HAXE} -cp ${CMAKE_CURRENT_LIST_DIR}/host -main Main -swf ${e2e_movie}
            -swf-version 10 -swf-header 970:607:24:2E7D32
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/host/Main.hx
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    VERBATIM)
  # The device-font movie: the host's Chinese answer in every font name movies use.
  set(e2e_text_movie ${CMAKE_CURRENT_BINARY_DIR}/host/e2e-device-text.swf)
  add_custom_command(OUTPUT ${e2e_text_movie}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/host
    COMMAND ${VEXA_HAXE} -cp ${CMAKE_CURRENT_LIST_DIR}/host -main DeviceText -swf ${e2e_text_movie}
            -swf-version 10 -swf-header 970:607:24:2E7D32
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/host/DeviceText.hx
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
    VERBATIM)
  add_custom_target(vexa_e2e_movie ALL DEPENDS ${e2e_movie} ${e2e_text_movie})

  pkg_check_modules(VEXA_E2E_X11 REQUIRED IMPORTED_TARGET x11)
  add_executable(vexa_e2e_app ${CMAKE_CURRENT_LIST_DIR}/host/AppEndToEndTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/host/XCloseRequest.cpp
    ${CMAKE_SOURCE_DIR}/tests/audio/mp3/Mp3TestSupport.cpp)
  target_link_libraries(vexa_e2e_app PRIVATE vexa_test_fakes GTest::gtest GTest::gtest_main
    PkgConfig::VEXA_E2E_X11 Threads::Threads)
  target_compile_definitions(vexa_e2e_app PRIVATE
    VEXA_E2E_PROGRAM="$<TARGET_FILE:vexa>"
    VEXA_E2E_MOVIE="${e2e_movie}"
    VEXA_E2E_TEXT_MOVIE="${e2e_text_movie}"
    VEXA_E2E_SCREENSHOT_DIR="${CMAKE_CURRENT_BINARY_DIR}/host")
  add_dependencies(vexa_e2e_app vexa vexa_e2e_movie)
  # The voice exercise needs the paced test device as microphone and speaker.
  if(TARGET asound_module_pcm_vexapaced)
    target_compile_definitions(vexa_e2e_app PRIVATE
      VEXA_E2E_PACED_MODULE="${VEXA_ALSA_PACED_MODULE}"
      VEXA_E2E_PACED_CONFIG_TOOL="${VEXA_ALSA_PACED_CONFIG_TOOL}")
    add_dependencies(vexa_e2e_app asound_module_pcm_vexapaced)
  endif()
  add_test(NAME e2e_app_movie_host
    COMMAND ${VEXA_XVFB_RUN} -a -s "-screen 0 1024x768x24 -noreset" $<TARGET_FILE:vexa_e2e_app>
            --gtest_output=xml:${CMAKE_CURRENT_BINARY_DIR}/host/e2e-app.xml)
  set_tests_properties(e2e_app_movie_host PROPERTIES LABELS "e2e;app" TIMEOUT 240
    RESOURCE_LOCK vexa_desktop)
endif()

# The movie view's text helpers (they live with the web view, so desktop builds only).
if(VEXA_GUI AND TARGET vexa_platform_webkit)
  vexa_add_test(NAME movie_view_helpers_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/host/MovieViewHelpersTest.cpp
    LIBS vexa_platform_webkit
    LABELS "unit;platform")
endif()
