# The main dialog with a scripted window and player, the real server and upkeep against the
# loopback fake content site.
if(TARGET vexa_app_shell)
  vexa_add_test(NAME dialog_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/dialog/CMireloDlgTest.cpp
    LIBS vexa_app_shell vexa_test_fakes
    LABELS "unit;app"
    TIMEOUT 120)
endif()
