# The picture class's tests, named once for the tree (tests/imaging/CMakeLists.txt) and the Windows
# build (cmake/windows/console.cmake).
set(ormelix_imaging_test_sources LibJpeg.h LibJpeg.cpp JpegImageTest.cpp LoadTest.cpp
                                 SaveToFileTest.cpp)
list(TRANSFORM ormelix_imaging_test_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
