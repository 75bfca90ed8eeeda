# The command line of the program (--help, --version, everything else refused).
add_library(vexa_app_cli STATIC ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp)
