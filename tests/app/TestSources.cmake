# The console's tests, named once for the tree (tests/app/CMakeLists.txt) and the Windows build
# (cmake/windows/console.cmake).
set(ormelix_app_test_sources
  CanvasTest.cpp FormLayoutTest.cpp FormatVoltsTest.cpp ConsoleTest.cpp PlotTest.cpp
  PlotUnitTest.cpp MendTest.cpp SnapshotTest.cpp)
list(TRANSFORM ormelix_app_test_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
