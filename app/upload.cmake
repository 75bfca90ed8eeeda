# The upload worker: endpoint choice, one upload at a time, and the done message to the dialog.
add_library(vexa_app_upload STATIC ${CMAKE_CURRENT_LIST_DIR}/UploadWorker.cpp)
target_link_libraries(vexa_app_upload PUBLIC vexa_net vexa_platform_core)
