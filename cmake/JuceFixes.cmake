# Our fixes to JUCE live in patches/juce/ as a numbered series. Whatever JUCE
# tree a build is given (the bootstrap's, a Windows checkout, someone's own),
# the plug-in must be compiled with every one of them, so configure checks the
# tree patch by patch:
#
#   - every fix is already there (the bootstrap's tree): build from the tree;
#   - otherwise: copy the tree into the build folder, apply what is missing
#     there, and build from the copy. The given tree is only ever read;
#   - a patch that neither applies nor is already there stops configure with
#     the patch's name and the JUCE version found.
#
# Patches are checked and applied with `git apply`, which every platform that
# builds JUCE has, and nothing is skipped on any platform: a patch that only
# touches Linux sources changes nothing elsewhere. Each patch names the
# platforms it affects in a "Platforms:" line of its header, for the report.
#
# Also usable as a script, to apply the series in place to a private tree:
#   cmake -DJUCE_TREE=<tree> -DPATCH_DIR=<patches> -P cmake/JuceFixes.cmake

# The version a JUCE tree declares in its top-level CMakeLists.txt.
function(quillbeat_juce_version out_var tree)
    file(STRINGS "${tree}/CMakeLists.txt" project_line REGEX "^project\\(JUCE VERSION")
    string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" version "${project_line}")
    set(${out_var} "${version}" PARENT_SCOPE)
endfunction()

# The series in order of application.
function(quillbeat_juce_fix_series out_var patch_dir)
    file(GLOB patches LIST_DIRECTORIES false "${patch_dir}/*.patch")
    list(SORT patches)
    set(${out_var} "${patches}" PARENT_SCOPE)
endfunction()

function(quillbeat_find_git)
    if(GIT_EXECUTABLE)
        return()
    endif()
    find_package(Git QUIET)
    if(NOT GIT_FOUND)
        message(FATAL_ERROR "Quillbeat checks and applies its fixes to JUCE with git; install git "
                            "(Git for Windows on Windows) and configure again.")
    endif()
    set(GIT_EXECUTABLE "${GIT_EXECUTABLE}" PARENT_SCOPE)
endfunction()

# Runs `git apply <args>` on a tree as on a plain folder. The ceiling keeps git
# from looking for a repository above the tree (JUCE kept inside a project's
# own repository), whose settings or ownership checks could make it refuse.
# JUCE's sources have CRLF line endings, and a checkout may have converted
# them; whitespace in the context lines is therefore not compared.
function(quillbeat_git_apply ok_var error_var tree)
    get_filename_component(tree "${tree}" REALPATH)
    get_filename_component(parent "${tree}" DIRECTORY)
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -E env "GIT_CEILING_DIRECTORIES=${parent}"
                "${GIT_EXECUTABLE}" apply --whitespace=nowarn --ignore-whitespace ${ARGN}
        WORKING_DIRECTORY "${tree}"
        RESULT_VARIABLE result
        OUTPUT_QUIET
        ERROR_VARIABLE error)
    if(result EQUAL 0)
        set(${ok_var} TRUE PARENT_SCOPE)
    else()
        set(${ok_var} FALSE PARENT_SCOPE)
    endif()
    string(STRIP "${error}" error)
    set(${error_var} "${error}" PARENT_SCOPE)
endfunction()

# The platforms a patch says it affects.
function(quillbeat_juce_fix_platforms out_var patch)
    file(STRINGS "${patch}" line REGEX "^Platforms: " LIMIT_COUNT 1)
    if(NOT line)
        get_filename_component(name "${patch}" NAME)
        message(FATAL_ERROR "${name} has no 'Platforms:' line in its header; "
                            "say which platforms it affects (for example 'Platforms: all').")
    endif()
    string(REGEX REPLACE "^Platforms: *" "" platforms "${line}")
    string(STRIP "${platforms}" platforms)
    set(${out_var} "${platforms}" PARENT_SCOPE)
endfunction()

# The files the series touches, from the patches' "+++ b/<path>" lines.
function(quillbeat_juce_fix_files out_var patches)
    set(touched "")
    foreach(patch IN LISTS patches)
        file(STRINGS "${patch}" lines REGEX "^\\+\\+\\+ b/")
        foreach(line IN LISTS lines)
            string(REGEX REPLACE "^\\+\\+\\+ b/([^\t]*).*$" "\\1" path "${line}")
            list(APPEND touched "${path}")
        endforeach()
    endforeach()
    list(REMOVE_DUPLICATES touched)
    set(${out_var} "${touched}" PARENT_SCOPE)
endfunction()

# True when the whole series is already in the tree: undone newest first, it
# must come out cleanly. A later fix may rework lines an earlier one made, so
# each is undone in turn, for real, on a scratch copy of the files the series
# touches; the tree itself is only read.
function(quillbeat_juce_has_all_fixes out_var tree patches)
    set(scratch "${CMAKE_BINARY_DIR}/juce-fixes-check")
    file(REMOVE_RECURSE "${scratch}")
    quillbeat_juce_fix_files(files "${patches}")
    foreach(path IN LISTS files)
        if(NOT EXISTS "${tree}/${path}")
            set(${out_var} FALSE PARENT_SCOPE)
            return()
        endif()
        get_filename_component(subdir "${path}" DIRECTORY)
        file(COPY "${tree}/${path}" DESTINATION "${scratch}/${subdir}")
    endforeach()

    set(reversed ${patches})
    list(REVERSE reversed)
    set(ok TRUE)
    foreach(patch IN LISTS reversed)
        quillbeat_git_apply(ok error "${scratch}" --reverse "${patch}")
        if(NOT ok)
            break()
        endif()
    endforeach()
    file(REMOVE_RECURSE "${scratch}")
    set(${out_var} ${ok} PARENT_SCOPE)
endfunction()

# Applies the series in order to a tree we own, skipping what is already
# there. Sets <report_var> to one line per patch, and <failed_var> to the
# patch that neither applies nor is present (empty when all went in), with
# git's explanation in <error_var>.
function(quillbeat_apply_juce_fixes report_var failed_var error_var tree)
    set(patches ${ARGN})
    set(report "")
    foreach(patch IN LISTS patches)
        get_filename_component(name "${patch}" NAME_WE)
        quillbeat_juce_fix_platforms(platforms "${patch}")
        quillbeat_git_apply(present ignored "${tree}" --check --reverse "${patch}")
        if(present)
            string(APPEND report "${name} (${platforms}): already in the tree\n")
            continue()
        endif()
        quillbeat_git_apply(applied error "${tree}" "${patch}")
        if(NOT applied)
            set(${report_var} "${report}" PARENT_SCOPE)
            set(${failed_var} "${name}" PARENT_SCOPE)
            set(${error_var} "${error}" PARENT_SCOPE)
            return()
        endif()
        string(APPEND report "${name} (${platforms}): applied\n")
    endforeach()
    set(${report_var} "${report}" PARENT_SCOPE)
    set(${failed_var} "" PARENT_SCOPE)
endfunction()

function(quillbeat_stop_on_failed_fix name error version tree)
    message(FATAL_ERROR
        "patches/juce/${name}.patch neither applies to nor is already in JUCE ${version} at '${tree}':\n"
        "${error}\n"
        "The fixes are made for JUCE 8.0.6; use a tree they fit, or update the patch.")
endfunction()

# What identifies a tree's contents cheaply: every file's name, size and time.
function(quillbeat_juce_tree_fingerprint out_var tree)
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${tree}"
        "${tree}/CMakeLists.txt" "${tree}/modules/*" "${tree}/extras/*")
    list(SORT files)
    set(listing "")
    foreach(file IN LISTS files)
        file(TIMESTAMP "${tree}/${file}" time "%Y%m%d%H%M%S" UTC)
        file(SIZE "${tree}/${file}" size)
        string(APPEND listing "${file} ${size} ${time}\n")
    endforeach()
    string(SHA256 fingerprint "${listing}")
    set(${out_var} "${fingerprint}" PARENT_SCOPE)
endfunction()

# Sets <out_var> to the JUCE tree to build from: <tree> itself when it holds
# every fix, or a patched copy of it in <copy_dir>. Writes what was found and
# done to <report_file> and to the configure output.
function(quillbeat_juce_tree_with_fixes out_var)
    cmake_parse_arguments(arg "" "TREE;VERSION;PATCH_DIR;COPY_DIR;REPORT_FILE" "" ${ARGN})
    quillbeat_find_git()
    quillbeat_juce_fix_series(patches "${arg_PATCH_DIR}")
    if(NOT CMAKE_SCRIPT_MODE_FILE)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${patches})
    endif()
    list(LENGTH patches count)

    quillbeat_juce_has_all_fixes(all_present "${arg_TREE}" "${patches}")
    if(all_present)
        set(tree "${arg_TREE}")
        set(report "")
        foreach(patch IN LISTS patches)
            get_filename_component(name "${patch}" NAME_WE)
            quillbeat_juce_fix_platforms(platforms "${patch}")
            string(APPEND report "${name} (${platforms}): already in the tree\n")
        endforeach()
        set(summary "all ${count} fixes already in JUCE ${arg_VERSION} at ${tree}")
        file(REMOVE_RECURSE "${arg_COPY_DIR}")
    else()
        set(tree "${arg_COPY_DIR}")
        set(stamp_file "${arg_COPY_DIR}/.quillbeat-fixes")
        quillbeat_juce_tree_fingerprint(fingerprint "${arg_TREE}")
        set(series_text "")
        foreach(patch IN LISTS patches)
            file(READ "${patch}" text)
            string(APPEND series_text "${text}")
        endforeach()
        # This script's own text too: a change in how fixes are applied makes a new copy.
        file(READ "${CMAKE_CURRENT_FUNCTION_LIST_FILE}" script_text)
        string(SHA256 stamp "${arg_TREE}\n${fingerprint}\n${series_text}\n${script_text}")

        set(saved_stamp "")
        if(EXISTS "${stamp_file}")
            file(READ "${stamp_file}" saved_stamp)
        endif()
        if(saved_stamp STREQUAL stamp AND EXISTS "${arg_COPY_DIR}/.quillbeat-fixes-report")
            file(READ "${arg_COPY_DIR}/.quillbeat-fixes-report" report)
        else()
            message(STATUS "Quillbeat: copying JUCE ${arg_VERSION} from ${arg_TREE} to apply our fixes")
            file(REMOVE_RECURSE "${arg_COPY_DIR}")
            file(MAKE_DIRECTORY "${arg_COPY_DIR}")
            file(GLOB entries LIST_DIRECTORIES true "${arg_TREE}/*" "${arg_TREE}/.*")
            list(FILTER entries EXCLUDE REGEX "/\\.git$")
            file(COPY ${entries} DESTINATION "${arg_COPY_DIR}")
            quillbeat_apply_juce_fixes(report failed error "${arg_COPY_DIR}" ${patches})
            if(failed)
                # Half patched: the next configure starts again from the given tree.
                file(REMOVE_RECURSE "${arg_COPY_DIR}")
                quillbeat_stop_on_failed_fix("${failed}" "${error}" "${arg_VERSION}" "${arg_TREE}")
            endif()
            file(WRITE "${arg_COPY_DIR}/.quillbeat-fixes-report" "${report}")
            file(WRITE "${stamp_file}" "${stamp}")
        endif()
        set(summary "JUCE ${arg_VERSION} from ${arg_TREE}, built from a copy with our fixes at ${tree}")
    endif()

    message(STATUS "Quillbeat: ${summary}")
    string(REGEX REPLACE "\n$" "" lines "${report}")
    string(REPLACE "\n" ";" lines "${lines}")
    foreach(line IN LISTS lines)
        message(STATUS "  ${line}")
    endforeach()
    file(WRITE "${arg_REPORT_FILE}" "${summary}\n${report}")
    set(${out_var} "${tree}" PARENT_SCOPE)
endfunction()

# Script mode: apply the series in place to a tree of our own.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(NOT JUCE_TREE OR NOT PATCH_DIR)
        message(FATAL_ERROR "usage: cmake -DJUCE_TREE=<tree> -DPATCH_DIR=<patches> -P ${CMAKE_CURRENT_LIST_FILE}")
    endif()
    quillbeat_find_git()
    quillbeat_juce_fix_series(patches "${PATCH_DIR}")
    quillbeat_juce_version(version "${JUCE_TREE}")
    quillbeat_apply_juce_fixes(report failed error "${JUCE_TREE}" ${patches})
    if(failed)
        quillbeat_stop_on_failed_fix("${failed}" "${error}" "${version}" "${JUCE_TREE}")
    endif()
endif()
