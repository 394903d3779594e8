# The one way a test program is made, for the tree (tests/), the Windows build (cmake/windows/)
# and the fuzz targets (fuzz/):
#
#   ormelix_add_test(<name> SOURCES ... [LIBS ...] [MAIN <library>] [EXCLUDE <gtest names>]
#                    [NO_TEST] [TIMEOUT <s>] [ENVIRONMENT ...] [LINK_OPTIONS ...])
#
# What a project's tests share it sets once, in variables read here:
#   ORMELIX_TEST_MAIN          the library with main() (none for a fuzzer)
#   ORMELIX_TEST_EACH_CASE     list every GoogleTest case with ctest; otherwise the program is one
#                              test (cheaper where every start costs seconds: Wine), and EXCLUDE
#                              leaves cases out of it
#   ORMELIX_TEST_AUTOMOC       run moc over the sources
#   ORMELIX_TEST_TIMEOUT       seconds (default 120)
#   ORMELIX_TEST_ENVIRONMENT, ORMELIX_TEST_LINK_OPTIONS   added to every test
# NO_TEST builds the program without registering it (fuzzers).
function(ormelix_add_test name)
  cmake_parse_arguments(T "NO_TEST" "MAIN;TIMEOUT" "SOURCES;LIBS;EXCLUDE;ENVIRONMENT;LINK_OPTIONS"
                        ${ARGN})
  if(NOT DEFINED T_MAIN)
    set(T_MAIN ${ORMELIX_TEST_MAIN})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT ${ORMELIX_TEST_TIMEOUT})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  list(APPEND T_ENVIRONMENT ${ORMELIX_TEST_ENVIRONMENT})
  list(APPEND T_LINK_OPTIONS ${ORMELIX_TEST_LINK_OPTIONS})

  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_MAIN} ${T_LIBS})
  if(T_LINK_OPTIONS)
    target_link_options(${name} PRIVATE ${T_LINK_OPTIONS})
  endif()
  if(ORMELIX_TEST_AUTOMOC)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
  if(T_NO_TEST)
    return()
  endif()

  if(ORMELIX_TEST_EACH_CASE)
    include(GoogleTest)
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}" TIMEOUT ${T_TIMEOUT})
    return()
  endif()
  set(args)
  if(T_EXCLUDE)
    list(JOIN T_EXCLUDE ":" excluded)
    set(args --gtest_filter=-${excluded})
  endif()
  add_test(NAME ${name} COMMAND ${name} ${args})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
endfunction()
