# Checks the build's JUCE-fixes step on small JUCE trees: the top-level
# CMakeLists.txt and every file the series touches, taken from a real JUCE
# tree with our fixes undone. Each case runs the step in its own CMake process,
# as configure would, and checks which tree it chose, what it reported, and
# that the given tree was left byte for byte as it was.
#
#   cmake -DJUCE_DIR=<JUCE tree> -DPATCH_DIR=<patches/juce> -DWORK_DIR=<scratch> -P JuceFixesTest.cmake
include("${CMAKE_CURRENT_LIST_DIR}/../../cmake/JuceFixes.cmake")
quillbeat_find_git()
quillbeat_juce_fix_series(patches "${PATCH_DIR}")
quillbeat_juce_version(juce_version "${JUCE_DIR}")
list(LENGTH patches patch_count)

set(failures "")
# expect(<what fails> <condition>...): notes a failure unless the condition holds.
function(expect what)
    if(NOT (${ARGN}))
        set(failures "${failures}  ${CURRENT_CASE}: ${what}\n" PARENT_SCOPE)
    endif()
endfunction()

quillbeat_juce_fix_files(touched "${patches}")

# A small tree without any of our fixes, with the first <applied> of them
# then applied to it.
function(make_tree dir applied)
    file(REMOVE_RECURSE "${dir}")
    foreach(path IN ITEMS CMakeLists.txt ${touched})
        get_filename_component(subdir "${path}" DIRECTORY)
        file(COPY "${JUCE_DIR}/${path}" DESTINATION "${dir}/${subdir}")
    endforeach()
    set(newest_first ${patches})
    list(REVERSE newest_first)
    foreach(patch IN LISTS newest_first)
        quillbeat_git_apply(present ignored "${dir}" --check --reverse "${patch}")
        if(present)
            quillbeat_git_apply(ok error "${dir}" --reverse "${patch}")
        endif()
    endforeach()
    if(applied GREATER 0)
        math(EXPR last "${applied} - 1")
        foreach(index RANGE ${last})
            list(GET patches ${index} patch)
            quillbeat_git_apply(ok error "${dir}" "${patch}")
            if(NOT ok)
                message(FATAL_ERROR "cannot set up the test tree: ${error}")
            endif()
        endforeach()
    endif()
endfunction()

# Every file's path and contents, as one hash.
function(tree_hash out_var dir)
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${dir}" "${dir}/*")
    list(SORT files)
    set(listing "")
    foreach(file IN LISTS files)
        file(SHA256 "${dir}/${file}" hash)
        string(APPEND listing "${file} ${hash}\n")
    endforeach()
    string(SHA256 result "${listing}")
    set(${out_var} "${result}" PARENT_SCOPE)
endfunction()

# Runs the step on <tree> with its copy in <copy>; sets ok, output, chosen
# (the tree the build would compile) and report.
function(resolve tree copy)
    execute_process(
        COMMAND "${CMAKE_COMMAND}" "-DTREE=${tree}" "-DPATCH_DIR=${PATCH_DIR}"
                "-DCOPY_DIR=${copy}" "-DREPORT_FILE=${WORK_DIR}/report.txt"
                -P "${CMAKE_CURRENT_LIST_DIR}/ResolveJuceTree.cmake"
        RESULT_VARIABLE result
        OUTPUT_VARIABLE out
        ERROR_VARIABLE err)
    set(output "${out}${err}")
    string(REGEX MATCH "tree: [^\n]*" chosen "${output}")
    string(REGEX REPLACE "^tree: " "" chosen "${chosen}")
    set(report "")
    if(EXISTS "${WORK_DIR}/report.txt")
        file(READ "${WORK_DIR}/report.txt" report)
        file(REMOVE "${WORK_DIR}/report.txt")
    endif()
    if(result EQUAL 0)
        set(ok TRUE PARENT_SCOPE)
    else()
        set(ok FALSE PARENT_SCOPE)
    endif()
    set(output "${output}" PARENT_SCOPE)
    set(chosen "${chosen}" PARENT_SCOPE)
    set(report "${report}" PARENT_SCOPE)
endfunction()

function(count_matches out_var text regex)
    string(REGEX MATCHALL "${regex}" found "${text}")
    list(LENGTH found count)
    set(${out_var} ${count} PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")

# Trees with none, some and all of the fixes: the step builds from the tree
# itself only when it holds them all, and from a copy with all of them
# otherwise; the report says which patch was found and which applied.
#   case name | fixes already in the tree
set(cases
    "unpatched|0"
    "partly patched|3"
    "fully patched|${patch_count}")
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" fields "${case}")
    list(GET fields 0 CURRENT_CASE)
    list(GET fields 1 already)
    set(tree "${WORK_DIR}/user/juce")
    set(copy "${WORK_DIR}/build/juce-with-fixes")
    make_tree("${tree}" ${already})
    tree_hash(before "${tree}")

    resolve("${tree}" "${copy}")
    expect("configure failed:\n${output}" ok)
    tree_hash(after "${tree}")
    expect("the given tree was changed" before STREQUAL after)

    math(EXPR to_apply "${patch_count} - ${already}")
    count_matches(found_count "${report}" ": already in the tree\n")
    count_matches(applied_count "${report}" ": applied\n")
    expect("report lists ${found_count} fixes as found, expected ${already}:\n${report}" found_count EQUAL already)
    expect("report lists ${applied_count} fixes as applied, expected ${to_apply}:\n${report}" applied_count EQUAL to_apply)
    if(to_apply EQUAL 0)
        expect("built from '${chosen}' instead of the tree itself" chosen STREQUAL tree)
        expect("made a copy of a tree that needed none" NOT EXISTS "${copy}")
    else()
        expect("built from '${chosen}' instead of the patched copy" chosen STREQUAL copy)
        quillbeat_juce_has_all_fixes(complete "${copy}" "${patches}")
        expect("the copy lacks fixes" complete)
    endif()
    file(REMOVE_RECURSE "${WORK_DIR}")
endforeach()

# The copy is made once and made again when the given tree changes.
set(CURRENT_CASE "unchanged and changed tree")
set(tree "${WORK_DIR}/user/juce")
set(copy "${WORK_DIR}/build/juce-with-fixes")
make_tree("${tree}" 0)
resolve("${tree}" "${copy}")
expect("the first configure made no copy" output MATCHES "copying JUCE")
resolve("${tree}" "${copy}")
expect("an unchanged tree was copied again" NOT output MATCHES "copying JUCE")
expect("the second configure built from '${chosen}'" chosen STREQUAL copy)
file(APPEND "${tree}/CMakeLists.txt" "# a local change\n")
resolve("${tree}" "${copy}")
expect("a changed tree was not copied again" output MATCHES "copying JUCE")
file(READ "${copy}/CMakeLists.txt" copied)
expect("the copy misses the tree's change" copied MATCHES "# a local change")
file(REMOVE_RECURSE "${WORK_DIR}")

# A JUCE kept inside another git repository (a project's vendored copy) is
# checked and patched as itself, never as paths of the outer repository.
set(CURRENT_CASE "tree inside another repository")
file(MAKE_DIRECTORY "${WORK_DIR}/project")
execute_process(COMMAND "${GIT_EXECUTABLE}" init -q WORKING_DIRECTORY "${WORK_DIR}/project" RESULT_VARIABLE init_result)
expect("git init failed" init_result EQUAL 0)
set(tree "${WORK_DIR}/project/third_party/juce")
set(copy "${WORK_DIR}/build/juce-with-fixes")
make_tree("${tree}" 0)
resolve("${tree}" "${copy}")
expect("configure failed:\n${output}" ok)
expect("built from '${chosen}' instead of the patched copy" chosen STREQUAL copy)
quillbeat_juce_has_all_fixes(complete "${copy}" "${patches}")
expect("the copy lacks fixes" complete)
quillbeat_juce_has_all_fixes(touched_user_tree "${tree}" "${patches}")
expect("the fixes went into the given tree" NOT touched_user_tree)
file(REMOVE_RECURSE "${WORK_DIR}")

# A checkout whose line endings were converted (JUCE's sources have CRLF)
# still takes every fix.
set(CURRENT_CASE "line endings converted")
set(tree "${WORK_DIR}/user/juce")
set(copy "${WORK_DIR}/build/juce-with-fixes")
make_tree("${tree}" 0)
foreach(path IN LISTS touched)
    file(READ "${tree}/${path}" source)
    string(REPLACE "\r\n" "\n" source "${source}")
    file(WRITE "${tree}/${path}" "${source}")
endforeach()
resolve("${tree}" "${copy}")
expect("configure failed:\n${output}" ok)
quillbeat_juce_has_all_fixes(complete "${copy}" "${patches}")
expect("the copy lacks fixes" complete)
file(REMOVE_RECURSE "${WORK_DIR}")

# A tree one patch cannot go into: configure stops naming that patch and the
# JUCE version, leaves the tree as it was and no half-patched copy behind.
set(CURRENT_CASE "altered tree")
list(FILTER patches INCLUDE REGEX "json-integers")
list(GET patches 0 victim)
get_filename_component(victim_name "${victim}" NAME)
quillbeat_juce_fix_series(patches "${PATCH_DIR}")
# The longest line the patch removes: a line only this patch relies on.
file(STRINGS "${victim}" removed REGEX "^-[^-]")
set(target_line "")
foreach(line IN LISTS removed)
    string(REGEX REPLACE "^-(.*[^\r])\r?$" "\\1" line "${line}")
    string(LENGTH "${line}" length)
    string(LENGTH "${target_line}" longest)
    if(length GREATER longest)
        set(target_line "${line}")
    endif()
endforeach()
file(STRINGS "${victim}" victim_file REGEX "^\\+\\+\\+ b/" LIMIT_COUNT 1)
string(REGEX REPLACE "^\\+\\+\\+ b/([^\t]*).*$" "\\1" victim_file "${victim_file}")
set(tree "${WORK_DIR}/user/juce")
set(copy "${WORK_DIR}/build/juce-with-fixes")
make_tree("${tree}" 0)
file(READ "${tree}/${victim_file}" source)
string(FIND "${source}" "${target_line}" at)
expect("the line to alter is not in ${victim_file}" NOT at EQUAL -1)
string(REPLACE "${target_line}" "${target_line} // changed locally" source "${source}")
file(WRITE "${tree}/${victim_file}" "${source}")
tree_hash(before "${tree}")
resolve("${tree}" "${copy}")
tree_hash(after "${tree}")
expect("configure went on" NOT ok)
# CMake wraps long messages; compare with the line breaks taken out.
string(REGEX REPLACE "[ \n]+" " " flat_output "${output}")
string(FIND "${flat_output}" "patches/juce/${victim_name} neither applies to nor is already in JUCE ${juce_version}" named)
expect("the error does not name the patch and the version:\n${output}" NOT named EQUAL -1)
expect("the given tree was changed" before STREQUAL after)
expect("a half-patched copy was left behind" NOT EXISTS "${copy}")
file(REMOVE_RECURSE "${WORK_DIR}")

if(failures)
    message(FATAL_ERROR "JUCE fixes:\n${failures}")
endif()
message("JUCE fixes: all cases passed (${patch_count} patches, JUCE ${juce_version})")
