# Makes a page the way a new author does: the starter command creates a
# project from the template, and the project's install-page command builds it
# and installs it into the per-user folder of a scratch HOME.
#   cmake -DWEB_DIR=<web> -DPROJECT=<new folder> -DHOME_DIR=<scratch home> -P MakeStarterPage.cmake
file(REMOVE_RECURSE "${PROJECT}" "${HOME_DIR}")
file(MAKE_DIRECTORY "${HOME_DIR}")

function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${what} failed (${result})")
    endif()
endfunction()

run("npm run new-page" npm run new-page -- "${PROJECT}" WORKING_DIRECTORY "${WEB_DIR}")
run("npm run install-page" "${CMAKE_COMMAND}" -E env "HOME=${HOME_DIR}"
    npm --prefix "${PROJECT}" run install-page)
