# The HID layer's shared tests, named once for the tree (tests/hid/CMakeLists.txt) and the Windows
# build (tests/hid/windows/CMakeLists.txt). Each platform adds its own event loop's tests.
set(ormelix_hid_layer_test_sources
  HidTestSupport.h BindingTest.cpp JvMethodTest.cpp DeviceTest.cpp ControllerTest.cpp)
set(ormelix_hid_reader_test_sources HidTestSupport.h ReaderTest.cpp CancelledReadTest.cpp)
list(TRANSFORM ormelix_hid_layer_test_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
list(TRANSFORM ormelix_hid_reader_test_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
