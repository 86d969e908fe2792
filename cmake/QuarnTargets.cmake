# quarn_layer(NAME [FOLDERS...] DEPS...): one static library from the *.cpp files of the
# folder and of the sub-folders named in FOLDERS, and one test executable from their
# *_test.cpp files (run by CTest, labelled "core" unless it needs Qt). With QT the library is
# moc'ed and each *_test.cpp is a QtTest program of its own.
function(quarn_layer name)
  cmake_parse_arguments(ARG "QT" "" "FOLDERS;DEPS;TEST_DEPS;LABELS" ${ARGN})
  set(patterns ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(folder IN LISTS ARG_FOLDERS)
    list(APPEND patterns ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  endforeach()
  file(GLOB all_sources CONFIGURE_DEPENDS ${patterns})
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
    # The shared Qt header needs Widgets: a library of Qt's Gui alone parses its own.
    set(widgets)
    if("Qt6::Widgets" IN_LIST ARG_DEPS)
      set(widgets WIDGETS)
      quarn_shared_pch(quarn_qt_pch HEADERS ${QUARN_QT_PCH_HEADERS} DEPS Qt6::Widgets)
      target_precompile_headers(${name} REUSE_FROM quarn_qt_pch)
    endif()
    foreach(test IN LISTS tests)
      get_filename_component(test_name ${test} NAME_WE)
      quarn_qt_test(${test_name} ${widgets} SOURCES ${test} DEPS ${name} ${ARG_TEST_DEPS})
    endforeach()
    return()
  endif()
  if(tests)
    quarn_test(${name}_test SOURCES ${tests} DEPS ${name} ${ARG_TEST_DEPS} LABELS ${ARG_LABELS})
  endif()
endfunction()

# Test sources are most of what a build compiles, and their speed matters little: the code
# they test keeps the tree's own flags, while their own files take QUARN_TEST_COMPILE_OPTIONS
# (the release preset: less optimisation and line tables only) and one precompiled header
# that every test executable of its kind shares.
set(QUARN_TEST_COMPILE_OPTIONS "" CACHE STRING "Compile options for the tests' own sources")
set(QUARN_PCH_SOURCE ${CMAKE_CURRENT_LIST_DIR}/pch_anchor.cpp)
# The Qt headers that most of the desktop program's files include. QtTest stays out: it
# depends on a definition that differs from folder to folder (QT_TESTCASE_BUILDDIR).
set(QUARN_QT_PCH_HEADERS <QApplication> <QWidget> <QDialog> <QComboBox> <QVBoxLayout>
    <QHBoxLayout> <QGridLayout> <QPushButton> <QLabel> <QGroupBox> <QRadioButton> <QCheckBox>
    <QLineEdit> <QMessageBox> <QMenuBar> <QTimer> <QString> <QPointer> <QObject> <QPainter>
    <QPainterPath> <QPixmap> <QIcon> <QFile> <QTemporaryDir> <string> <vector> <memory>)

# quarn_shared_pch(NAME HEADERS... DEPS... OPTIONS...): the target whose precompiled header
# others reuse; it must see the options and definitions they see, so it links what they link.
function(quarn_shared_pch name)
  cmake_parse_arguments(ARG "" "" "HEADERS;DEPS;OPTIONS" ${ARGN})
  if(TARGET ${name})
    return()
  endif()
  add_library(${name} OBJECT ${QUARN_PCH_SOURCE})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_compile_options(${name} PRIVATE ${ARG_OPTIONS})
  target_precompile_headers(${name} PRIVATE ${ARG_HEADERS})
endfunction()

# quarn_test_sources_setup(TARGET PCH): the tests' compile options and the shared header.
function(quarn_test_sources_setup target pch)
  target_compile_options(${target} PRIVATE ${QUARN_TEST_COMPILE_OPTIONS})
  target_precompile_headers(${target} REUSE_FROM ${pch})
endfunction()

# quarn_test(NAME SOURCES... DEPS... [LABELS...]): one GoogleTest executable, one CTest entry.
function(quarn_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT GTest_FOUND)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  quarn_shared_pch(quarn_gtest_pch
    HEADERS <gtest/gtest.h> <gmock/gmock.h> <string> <vector> <memory> <map> <functional>
            <optional> <string_view> <cstdint>
    DEPS GTest::gtest GTest::gmock OPTIONS ${QUARN_TEST_COMPILE_OPTIONS})
  quarn_test_sources_setup(${name} quarn_gtest_pch)
  # A precompiled header serves only objects built as it was: the test programs and their
  # header stay as the compiler builds programs (not as the libraries, built for libquarn).
  set_target_properties(quarn_gtest_pch ${name} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  # A test executable's files compiled together share one parse of the headers and one copy
  # of each template they use: their file-local names must therefore differ.
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 6)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_LABELS)
    set(ARG_LABELS core)
  endif()
  # The report names the tests skipped, for scripts/run_skipped_as_other_user.py.
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" ENVIRONMENT
                       "QUARN_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp;GTEST_OUTPUT=xml:${CMAKE_BINARY_DIR}/testresults/${name}.xml")
endfunction()

# quarn_qt_test(NAME [WIDGETS] SOURCES... DEPS...): one QtTest executable, one CTest entry
# labelled "qt", run on the offscreen platform so it needs no display.
function(quarn_qt_test name)
  cmake_parse_arguments(ARG "WIDGETS" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Test)
  if(ARG_WIDGETS)
    quarn_shared_pch(quarn_qttest_pch HEADERS ${QUARN_QT_PCH_HEADERS} DEPS Qt6::Widgets
      OPTIONS ${QUARN_TEST_COMPILE_OPTIONS})
    quarn_test_sources_setup(${name} quarn_qttest_pch)
  else()
    target_compile_options(${name} PRIVATE ${QUARN_TEST_COMPILE_OPTIONS})
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS qt ENVIRONMENT
                       "QT_QPA_PLATFORM=offscreen;QUARN_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp")
endfunction()
