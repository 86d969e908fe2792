# Named mutants: one fault put into a copy of one source file of a library, compiled into a
# test program of its own ahead of that library, so the linker takes the faulty definitions
# and leaves the library's. Each is a CTest entry labelled "mutant" that passes only when the
# test program fails: a test that cannot tell the fault from the code is shown up by name.
# Built only with QUARN_MUTANTS (./test.sh --full): forty links cost more than the plain
# suite's budget allows.

# quarn_mutant_cases(CASES TEST target): an OBJECT library of the test program TARGET's own
# files, compiled once with its definitions and links for every mutant of its layer.
function(quarn_mutant_cases cases)
  cmake_parse_arguments(ARG "" "TEST" "" ${ARGN})
  get_target_property(sources ${ARG_TEST} SOURCES)
  get_target_property(source_dir ${ARG_TEST} SOURCE_DIR)
  get_target_property(links ${ARG_TEST} LINK_LIBRARIES)
  get_target_property(definitions ${ARG_TEST} COMPILE_DEFINITIONS)
  list(TRANSFORM sources PREPEND "${source_dir}/" REGEX "^[^/]")
  add_library(${cases} OBJECT ${sources})
  target_link_libraries(${cases} PRIVATE ${links})
  if(definitions)
    target_compile_definitions(${cases} PRIVATE ${definitions})
  endif()
  quarn_test_sources_setup(${cases} quarn_gtest_pch)
  set_target_properties(${cases} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  set_target_properties(${cases} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 6)
  foreach(dependency default_database quarnd quarnscan quarndb)
    if(TARGET ${dependency})
      add_dependencies(${cases} ${dependency})
    endif()
  endforeach()
  set_property(TARGET ${cases} PROPERTY QUARN_MUTANT_TEST ${ARG_TEST})
endfunction()

# quarn_mutant(NAME CASES cases SOURCE path FROM text TO text [FILTER gtest-filter])
#   CASES   made by quarn_mutant_cases; the mutant links what that test program links
#   SOURCE  the file to copy, from the project's root; FROM must occur in it exactly once
#           and, being passed on a command line, holds no semicolon
#   FILTER  the test suites that look at the file, so a slow layer's program runs only them
function(quarn_mutant name)
  cmake_parse_arguments(ARG "" "CASES;SOURCE;FROM;TO;FILTER" "" ${ARGN})
  get_filename_component(file_name "${ARG_SOURCE}" NAME)
  set(mutated "${CMAKE_CURRENT_BINARY_DIR}/mutants/${name}/${file_name}")
  add_custom_command(OUTPUT "${mutated}"
    COMMAND ${CMAKE_COMMAND} "-DSOURCE=${PROJECT_SOURCE_DIR}/${ARG_SOURCE}" "-DOUTPUT=${mutated}"
            "-DFROM=${ARG_FROM}" "-DTO=${ARG_TO}" -P "${PROJECT_SOURCE_DIR}/cmake/ApplyMutant.cmake"
    DEPENDS "${PROJECT_SOURCE_DIR}/${ARG_SOURCE}" "${PROJECT_SOURCE_DIR}/cmake/ApplyMutant.cmake"
    COMMENT "Mutant ${name} of ${ARG_SOURCE}"
    VERBATIM)
  get_target_property(test ${ARG_CASES} QUARN_MUTANT_TEST)
  get_target_property(links ${test} LINK_LIBRARIES)
  set(target "mutant_${name}")
  add_executable(${target} "${mutated}" $<TARGET_OBJECTS:${ARG_CASES}>)
  target_link_libraries(${target} PRIVATE ${links})
  get_target_property(directory ${test} BINARY_DIR)
  set(arguments --gtest_brief=1 --gtest_fail_fast)
  if(ARG_FILTER)
    list(APPEND arguments "--gtest_filter=${ARG_FILTER}")
  endif()
  # Killed when the program fails, a crash included (a test that dereferences what a failed
  # assertion left empty); CTest's WILL_FAIL would count the crash against the mutant.
  add_test(NAME ${target} COMMAND sh -c "! \"$0\" \"$@\"" $<TARGET_FILE:${target}> ${arguments}
           WORKING_DIRECTORY ${directory})
  set_tests_properties(${target} PROPERTIES TIMEOUT 300 LABELS mutant
                       ENVIRONMENT "QUARN_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp")
  add_dependencies(mutants ${target})
endfunction()

add_custom_target(mutants)
