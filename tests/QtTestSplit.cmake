# Read by CTest as it starts (a TEST_INCLUDE_FILES entry that tk_add_test's
# SPLIT writes): one test per function of a Qt Test executable, as the
# executable itself lists them with -functions, and a function of many data
# rows (-datatags) in parts of at most tk_rows_per_part rows, each run with
# its rows named on the command line. When the executable lists nothing (not
# built, or it fails), it runs whole, so its failure is seen. They are the
# units that wait longest: a cost makes a parallel CTest start them first
# rather than leave one of them for the end.
set(tk_rows_per_part 60)

function(tk_split_test test)
    add_test("${test}" "${tk_test_executable}" ${ARGN})
    set_tests_properties("${test}" PROPERTIES
        ENVIRONMENT "${tk_test_environment}"
        WORKING_DIRECTORY "${tk_test_directory}"
        TIMEOUT 300
        COST 100)
    if(tk_test_labels)
        set_tests_properties("${test}" PROPERTIES LABELS "${tk_test_labels}")
    endif()
endfunction()

set(functions)
set(rows)
if(EXISTS "${tk_test_executable}")
    execute_process(
        COMMAND "${tk_cmake}" -E env ${tk_test_environment} "${tk_test_executable}" -functions
        OUTPUT_VARIABLE listed ERROR_QUIET TIMEOUT 60)
    string(REGEX MATCHALL "[A-Za-z_][A-Za-z_0-9]*\\(\\)" functions "${listed}")
    execute_process(
        COMMAND "${tk_cmake}" -E env ${tk_test_environment} "${tk_test_executable}" -datatags
        OUTPUT_VARIABLE rows ERROR_QUIET TIMEOUT 60)
endif()
if(NOT functions)
    tk_split_test("${tk_test_name}")
endif()
# Lines "Class function tag"; a tag CMake's lists would cut keeps its
# function whole.
string(REPLACE "\n" ";" rows "${rows}")
foreach(function IN LISTS functions)
    string(REPLACE "()" "" function "${function}")
    set(tags)
    set(whole FALSE)
    foreach(row IN LISTS rows)
        if(row MATCHES "^[A-Za-z_0-9]+ ${function} (.+)$")
            set(tag "${CMAKE_MATCH_1}")
            if(tag MATCHES "[][;\\\\\"]")
                set(whole TRUE)
            endif()
            list(APPEND tags "${function}:${tag}")
        endif()
    endforeach()
    list(LENGTH tags count)
    if(whole OR count LESS_EQUAL tk_rows_per_part)
        tk_split_test("${tk_test_name}.${function}" ${function})
        continue()
    endif()
    math(EXPR parts "(${count} + ${tk_rows_per_part} - 1) / ${tk_rows_per_part}")
    foreach(part RANGE 1 ${parts})
        math(EXPR first "(${part} - 1) * ${count} / ${parts}")
        math(EXPR length "${part} * ${count} / ${parts} - ${first}")
        list(SUBLIST tags ${first} ${length} partTags)
        tk_split_test("${tk_test_name}.${function}.${part}" ${partTags})
    endforeach()
endforeach()
