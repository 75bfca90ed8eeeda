# Desktop integration and the Debian package: the desktop file, the AppStream metainfo and the man
# page pass their validators; the install tree and the .deb hold the FHS layout; the program
# installed from the .deb into a scratch root starts under Xvfb and plays the demo lesson.
if(VEXA_GUI AND DEFINED VEXA_PACKAGING_DIR)
  find_program(VEXA_DESKTOP_FILE_VALIDATE desktop-file-validate)
  find_program(VEXA_APPSTREAMCLI appstreamcli)
  find_program(VEXA_GROFF groff)
  if(VEXA_DESKTOP_FILE_VALIDATE)
    add_test(NAME packaging_desktop_file_valid
      COMMAND ${VEXA_DESKTOP_FILE_VALIDATE} ${VEXA_PACKAGING_DIR}/vexa.desktop)
    set_tests_properties(packaging_desktop_file_valid PROPERTIES LABELS "integration;app")
  endif()
  if(VEXA_APPSTREAMCLI)
    add_test(NAME packaging_metainfo_valid
      COMMAND ${VEXA_APPSTREAMCLI} validate --no-net --pedantic ${VEXA_PACKAGING_DIR}/vexa.metainfo.xml)
    set_tests_properties(packaging_metainfo_valid PROPERTIES LABELS "integration;app")
  endif()
  if(VEXA_GROFF)
    # groff -ww warns about every questionable construct; any warning fails the check.
    add_test(NAME packaging_man_page_clean
      COMMAND sh -c "out=$(${VEXA_GROFF} -man -ww -z -Tutf8 \"$0\" 2>&1); [ -z \"$out\" ] || { echo \"$out\"; exit 1; }"
              ${VEXA_MAN_PAGE})
    set_tests_properties(packaging_man_page_clean PROPERTIES LABELS "integration;app")
  endif()
  if(TARGET vexa AND VEXA_DEMO_SITE_BUILT)
    add_test(NAME e2e_package_install_and_run
      COMMAND ${CMAKE_CURRENT_LIST_DIR}/package/install-and-run.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
    set_tests_properties(e2e_package_install_and_run PROPERTIES LABELS "e2e;app" TIMEOUT 600
      RESOURCE_LOCK vexa_desktop
      RUN_SERIAL TRUE)
  endif()
endif()
