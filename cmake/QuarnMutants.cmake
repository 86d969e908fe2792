# Named mutants: one fault put into a copy of one source file of a library, compiled into a
# test program of its own ahead of that library, so the linker takes the faulty definitions
# and leaves the library's. Each is a CTest entry that passes only when the test program
# fails: a test that cannot tell the fault from the code is shown up by name.
#
# quarn_mutant(NAME CASES target SOURCE path FROM text TO text DEPS libraries...)
#   CASES   an OBJECT library holding the test's own files, compiled once for every mutant
#   SOURCE  the file to copy, from the project's root; FROM must occur in it exactly once
#           and, being passed on a command line, holds no semicolon
function(quarn_mutant name)
  cmake_parse_arguments(ARG "" "CASES;SOURCE;FROM;TO" "DEPS" ${ARGN})
  get_filename_component(file_name "${ARG_SOURCE}" NAME)
  set(mutated "${CMAKE_CURRENT_BINARY_DIR}/mutants/${name}/${file_name}")
  add_custom_command(OUTPUT "${mutated}"
    COMMAND ${CMAKE_COMMAND} "-DSOURCE=${PROJECT_SOURCE_DIR}/${ARG_SOURCE}" "-DOUTPUT=${mutated}"
            "-DFROM=${ARG_FROM}" "-DTO=${ARG_TO}" -P "${PROJECT_SOURCE_DIR}/cmake/ApplyMutant.cmake"
    DEPENDS "${PROJECT_SOURCE_DIR}/${ARG_SOURCE}" "${PROJECT_SOURCE_DIR}/cmake/ApplyMutant.cmake"
    COMMENT "Mutant ${name} of ${ARG_SOURCE}"
    VERBATIM)
  set(target "mutant_${name}")
  add_executable(${target} "${mutated}" $<TARGET_OBJECTS:${ARG_CASES}>)
  target_link_libraries(${target} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
  set_tests_properties(${target} PROPERTIES WILL_FAIL TRUE TIMEOUT 300 LABELS mutant
                       ENVIRONMENT "QUARN_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp")
endfunction()
