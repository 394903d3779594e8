# The widgets' tests, named once for the tree (tests/widgets/CMakeLists.txt) and the Windows build
# (cmake/windows/console.cmake). The number tests need no Qt Test; the others drive the widgets
# with its click and key helpers.
set(ormelix_widgets_number_test_sources RxNumberTest.cpp)
set(ormelix_widgets_test_sources
  WidgetTestSupport.h RxNumberTest.cpp RxSpinEditTest.cpp RxSpinButtonTest.cpp RxUpDownTest.cpp)
list(TRANSFORM ormelix_widgets_number_test_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
list(TRANSFORM ormelix_widgets_test_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)
