# The bundled demo's happy path, end to end under Xvfb: the real program against the demo content
# site and the upload sink, the demo movie driving itself (record, stop, upload); the sink must
# receive the upload and the movie must show the confirmation.
if(VEXA_GUI AND VEXA_DEMO_SITE_BUILT AND TARGET vexa)
  add_test(NAME e2e_demo_happy_path
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/demo/happy-path.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(e2e_demo_happy_path PROPERTIES LABELS "e2e;app" TIMEOUT 300
    RESOURCE_LOCK vexa_desktop)
endif()
# The upload sink's multipart handling, which the e2e tests rely on for their verdicts.
find_program(VEXA_PYTHON3 python3)
if(VEXA_PYTHON3)
  add_test(NAME demo_upload_sink
    COMMAND ${VEXA_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/demo/sink_test.py ${CMAKE_SOURCE_DIR}/tools/upload-sink/sink.py)
  set_tests_properties(demo_upload_sink PROPERTIES LABELS "integration;net" TIMEOUT 60)
endif()
