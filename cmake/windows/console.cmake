# The console for Windows: the same sources as on Linux, linked statically against a static Qt
# and libjpeg, with the Windows HID entries. Included from CMakeLists.txt when Qt is found.
find_package(JPEG REQUIRED)

# Stripped: the static programs carry all of Qt, and its symbols would double their size.
add_link_options($<$<NOT:$<CONFIG:Debug>>:-s>)

add_subdirectory(${ORMELIX_ROOT}/widgets widgets)
add_subdirectory(${ORMELIX_ROOT}/imaging imaging)
add_subdirectory(${ORMELIX_ROOT}/app app)
add_subdirectory(${ORMELIX_ROOT}/tools/demo demo)
# ormelix-replay: the viewer, over the upper panel of app/ and the picture class.
add_subdirectory(${ORMELIX_ROOT}/tools/replay replay)

# ormelix-cli: the recorder on Qt Core, with the Windows side of its files and Ctrl-C.
add_subdirectory(${ORMELIX_ROOT}/tools/cli cli)
target_link_options(ormelix-cli PRIVATE -static-libgcc -static-libstdc++)

# One .exe with nothing beside it: the MinGW runtime inside too. The offscreen platform is
# linked in beside the windows one so that the programs also start headless (checks under Wine).
foreach(program ormelix ormelix-demo ormelix-replay)
  set_target_properties(${program} PROPERTIES WIN32_EXECUTABLE ON)
  target_link_options(${program} PRIVATE -static-libgcc -static-libstdc++)
  qt_import_plugins(${program} INCLUDE Qt6::QOffscreenIntegrationPlugin)
endforeach()

if(ORMELIX_BUILD_TESTS)
  # The shared app and imaging tests, each program one test: under Wine every start costs
  # seconds, so the cases are not listed one by one. They draw on the offscreen platform with
  # Wine's Tahoma, the font the console asks for.
  set(tests ${ORMELIX_ROOT}/tests)
  add_library(ormelix_testmain STATIC ${tests}/common/TestMain.cpp)
  target_link_libraries(ormelix_testmain PUBLIC GTest::gtest GTest::gmock Qt6::Widgets)

  include(${ORMELIX_ROOT}/cmake/Testing.cmake)
  set(ORMELIX_TEST_MAIN ormelix_testmain)
  set(ORMELIX_TEST_AUTOMOC ON)
  set(ORMELIX_TEST_TIMEOUT 600)
  set(ORMELIX_TEST_LINK_OPTIONS -static-libgcc -static-libstdc++)
  set(ORMELIX_TEST_ENVIRONMENT "WINEQT_QPA_FONTDIR=Z:\\usr\\share\\wine\\fonts")

  # The test programs and their sources are the tree's (each test folder's TestSources.cmake).
  # The program-folder fallback's read-only case skips itself where the folder cannot be made
  # read-only (Wine as root).
  include(${tests}/app/TestSources.cmake)
  ormelix_add_test(app_tests
    SOURCES ${ormelix_app_test_sources}
    LIBS ormelix_app ormelix_hid_sim)

  # The demo console polling the virtual instrument, its snapshot included.
  include(${tests}/tools/demo/TestSources.cmake)
  ormelix_add_test(demo_tests
    SOURCES ${ormelix_demo_test_sources}
    LIBS ormelix_demo)

  # ormelix-cli's tests that need no POSIX: the recorder, its files, the choice of instrument.
  include(${tests}/tools/cli/TestSources.cmake)
  ormelix_add_test(cli_tests
    SOURCES ${ormelix_cli_portable_test_sources}
    LIBS ormelix_cli ormelix_app ormelix_hid_sim)

  # The viewer on Windows' file mapping and paths; its recording made by ormelix-cli.exe too.
  include(${tests}/tools/replay/TestSources.cmake)
  ormelix_add_test(replay_tests
    SOURCES ${ormelix_replay_test_sources}
    LIBS ormelix_replay ormelix_cli)
  add_dependencies(replay_tests ormelix-cli)
  target_compile_definitions(replay_tests PRIVATE ORMELIX_CLI="$<TARGET_FILE:ormelix-cli>")

  include(${tests}/imaging/TestSources.cmake)
  ormelix_add_test(imaging_tests
    SOURCES ${ormelix_imaging_test_sources}
    LIBS ormelix_imaging JPEG::JPEG)

  # The widget tests drive the widgets with Qt Test's click and key helpers. The toolkit has no Qt
  # Test library, but the helpers are inline in its headers: they come from the host's Qt Test of
  # the same version (Debian's qt6-base-dev), copied beside the build so that no other host Qt
  # header is reached, with the few entries they call in QTestEntries.cpp.
  set(ORMELIX_QTTEST_HEADERS /usr/include/x86_64-linux-gnu/qt6/QtTest
      CACHE PATH "Qt Test headers of the toolkit's Qt version")
  set(qtTestVersion)
  if(EXISTS ${ORMELIX_QTTEST_HEADERS}/qttestversion.h)
    file(STRINGS ${ORMELIX_QTTEST_HEADERS}/qttestversion.h qtTestVersion
         REGEX "define QTTEST_VERSION_STR")
    string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" qtTestVersion "${qtTestVersion}")
  endif()
  include(${tests}/widgets/TestSources.cmake)
  if(qtTestVersion STREQUAL Qt6_VERSION)
    file(COPY ${ORMELIX_QTTEST_HEADERS}/ DESTINATION ${CMAKE_BINARY_DIR}/qttest/QtTest)
    ormelix_add_test(widgets_tests
      SOURCES ${ormelix_widgets_test_sources} ${tests}/widgets/windows/QTestEntries.cpp
      LIBS ormelix_widgets ormelix_app)
    target_include_directories(widgets_tests SYSTEM PRIVATE
      ${CMAKE_BINARY_DIR}/qttest ${CMAKE_BINARY_DIR}/qttest/QtTest)
  else()
    message(STATUS "Qt Test ${Qt6_VERSION} headers not in ${ORMELIX_QTTEST_HEADERS}: only the "
                   "number tests of the widgets are built")
    ormelix_add_test(widgets_tests
      SOURCES ${ormelix_widgets_number_test_sources}
      LIBS ormelix_widgets)
  endif()
  foreach(test app_tests demo_tests cli_tests replay_tests imaging_tests widgets_tests)
    qt_import_plugins(${test} INCLUDE Qt6::QOffscreenIntegrationPlugin)
  endforeach()
endif()

# The poll tick's timing, to set beside the Linux figure (bench/tick-wine-vs-linux.sh).
add_executable(tick_bench ${ORMELIX_ROOT}/bench/tick_bench.cpp)
target_link_libraries(tick_bench PRIVATE ormelix_app ormelix_hid_sim)
target_link_options(tick_bench PRIVATE -static-libgcc -static-libstdc++)
qt_import_plugins(tick_bench INCLUDE Qt6::QOffscreenIntegrationPlugin)

# The snapshot series placed by the console's own folders, run by tools/windows-check.sh as an
# ordinary user; line edits beside labels font by font, and the smallest program with a blank
# line edit, looked at on the windows platform under Wine.
add_executable(series_place_check ${ORMELIX_ROOT}/tests/app/windows/SeriesPlaceCheck.cpp)
target_link_libraries(series_place_check PRIVATE ormelix_app ormelix_hid_sim)
add_executable(line_edit_fonts WIN32 ${ORMELIX_ROOT}/bench/line_edit_fonts.cpp)
target_link_libraries(line_edit_fonts PRIVATE Qt6::Widgets)
add_executable(line_edit_repro ${ORMELIX_ROOT}/bench/line_edit_repro.cpp)
target_link_libraries(line_edit_repro PRIVATE Qt6::Widgets)
foreach(program series_place_check line_edit_fonts line_edit_repro)
  target_link_options(${program} PRIVATE -static-libgcc -static-libstdc++)
  qt_import_plugins(${program} INCLUDE Qt6::QOffscreenIntegrationPlugin)
endforeach()

# The installer, where NSIS is there: ormelix-setup-<version>.exe beside the programs.
find_program(ORMELIX_MAKENSIS makensis)
if(ORMELIX_MAKENSIS)
  set(setup ${CMAKE_BINARY_DIR}/ormelix-setup-${ORMELIX_VERSION}.exe)
  add_custom_command(OUTPUT ${setup}
    COMMAND ${ORMELIX_MAKENSIS} -V2 -DVERSION=${ORMELIX_VERSION}
            -DPROGRAM=$<TARGET_FILE:ormelix> -DDEMO=$<TARGET_FILE:ormelix-demo>
            -DHIDLIST=$<TARGET_FILE:ormelix-hidlist> -DCLI=$<TARGET_FILE:ormelix-cli>
            -DREPLAY=$<TARGET_FILE:ormelix-replay>
            -DOUTFILE=${setup} ${CMAKE_CURRENT_SOURCE_DIR}/ormelix.nsi
    DEPENDS ormelix ormelix-demo ormelix-hidlist ormelix-cli ormelix-replay
            ${CMAKE_CURRENT_SOURCE_DIR}/ormelix.nsi
    COMMENT "Installer ormelix-setup-${ORMELIX_VERSION}.exe"
    VERBATIM)
  add_custom_target(installer ALL DEPENDS ${setup})
endif()
