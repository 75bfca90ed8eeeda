# The upload worker against a loopback upload sink, with the deterministic UI loop.
vexa_add_test(NAME app_upload_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/upload/UploadWorkerTest.cpp
  LIBS vexa_app_upload vexa_test_fakes LABELS "unit;app;threads")
