# quarn_layer(NAME DEPS...): one static library from the folder's *.cpp files, and one test
# executable from its *_test.cpp files (run by CTest, labelled "core" unless it needs Qt).
# With QT the library is moc'ed and each *_test.cpp is a QtTest program of its own.
function(quarn_layer name)
  cmake_parse_arguments(ARG "QT" "" "DEPS;TEST_DEPS;LABELS" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(sources)
  set(tests)
  foreach(source IN LISTS all_sources)
    if(source MATCHES "_test\\.cpp$")
      list(APPEND tests ${source})
    elseif(NOT source MATCHES "_main\\.cpp$")
      list(APPEND sources ${source})
    endif()
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  if(ARG_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
    foreach(test IN LISTS tests)
      get_filename_component(test_name ${test} NAME_WE)
      quarn_qt_test(${test_name} SOURCES ${test} DEPS ${name} ${ARG_TEST_DEPS})
    endforeach()
    return()
  endif()
  if(tests)
    quarn_test(${name}_test SOURCES ${tests} DEPS ${name} ${ARG_TEST_DEPS} LABELS ${ARG_LABELS})
  endif()
endfunction()

# quarn_test(NAME SOURCES... DEPS... [LABELS...]): one GoogleTest executable, one CTest entry.
function(quarn_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  if(QUARN_FUZZ)
    return()  # the fuzz build makes fuzzers only
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_LABELS)
    set(ARG_LABELS core)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" ENVIRONMENT
                       "QUARN_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp")
endfunction()

# quarn_qt_test(NAME SOURCES... DEPS...): one QtTest executable, one CTest entry labelled "qt",
# run on the offscreen platform so it needs no display.
function(quarn_qt_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Test)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS qt ENVIRONMENT
                       "QT_QPA_PLATFORM=offscreen;QUARN_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp")
endfunction()
