# ormelix-replay's tests, named once for the tree and the Windows build
# (cmake/windows/console.cmake).
set(ormelix_replay_test_sources ${CMAKE_CURRENT_LIST_DIR}/ReplayTest.cpp)
