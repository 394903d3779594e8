# The demo's tests, named once for the tree and the Windows build (cmake/windows/console.cmake).
set(ormelix_demo_test_sources ${CMAKE_CURRENT_LIST_DIR}/DemoTest.cpp)
