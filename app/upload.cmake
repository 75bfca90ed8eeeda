# The upload worker: endpoint choice, one upload at a time, the done message to the dialog, and
# the outbox of attempts that went unanswered.
add_library(vexa_app_upload STATIC ${CMAKE_CURRENT_LIST_DIR}/UploadWorker.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CUploadOutbox.cpp)
target_link_libraries(vexa_app_upload PUBLIC vexa_net vexa_server vexa_platform_core)
