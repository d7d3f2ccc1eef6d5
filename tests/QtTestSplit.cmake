# Read by CTest as it starts (a TEST_INCLUDE_FILES entry that tk_add_test's
# SPLIT writes): one test per function of a Qt Test executable, as the
# executable itself lists them with -functions. When it lists none (not
# built, or it fails), the executable runs whole, so its failure is seen.
# They are the units that wait longest: a cost makes a parallel CTest start
# them first rather than leave one of them for the end.
set(functions)
if(EXISTS "${tk_test_executable}")
    execute_process(
        COMMAND "${tk_cmake}" -E env ${tk_test_environment} "${tk_test_executable}" -functions
        OUTPUT_VARIABLE listed ERROR_QUIET TIMEOUT 60)
    string(REGEX MATCHALL "[A-Za-z_][A-Za-z_0-9]*\\(\\)" functions "${listed}")
endif()
if(NOT functions)
    set(functions "()")
endif()
foreach(function IN LISTS functions)
    string(REPLACE "()" "" function "${function}")
    if(function)
        set(test "${tk_test_name}.${function}")
    else()
        set(test "${tk_test_name}")
    endif()
    add_test("${test}" "${tk_test_executable}" ${function})
    set_tests_properties("${test}" PROPERTIES
        ENVIRONMENT "${tk_test_environment}"
        WORKING_DIRECTORY "${tk_test_directory}"
        TIMEOUT 300
        COST 100)
    if(tk_test_labels)
        set_tests_properties("${test}" PROPERTIES LABELS "${tk_test_labels}")
    endif()
endforeach()
