# ormelix-cli's tests, named once for the tree (tests/tools/cli/CMakeLists.txt) and the Windows
# build (cmake/windows/console.cmake), which builds only those that need no POSIX.
set(ormelix_cli_portable_test_sources CliEdgeTest.cpp)
set(ormelix_cli_test_sources CliTest.cpp ${ormelix_cli_portable_test_sources})
list(TRANSFORM ormelix_cli_portable_test_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
list(TRANSFORM ormelix_cli_test_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
