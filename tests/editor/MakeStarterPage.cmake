# Makes a page the way a new author does: the starter command creates a
# project from the template, and the project's install-page command builds it
# and installs it into the per-user folder of a scratch HOME.
#   cmake -DWEB_DIR=<web> -DPROJECT=<new folder> -DHOME_DIR=<scratch home> -P MakeStarterPage.cmake
#
# With -DFROM_TARBALL=ON, as an author who has only the packed client: the
# client is packed, and the tarball alone goes into a scratch folder outside
# the repository, where npx starts the project from it and a scratch HOME
# receives the install, with no clone and no JUCE tree to be found. The
# installed page is then copied to HOME_DIR's page folder (PROJECT is not
# used), and the scratch folder goes.
file(REMOVE_RECURSE "${HOME_DIR}")
file(MAKE_DIRECTORY "${HOME_DIR}")

function(run what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        if(DEFINED scratch)
            file(REMOVE_RECURSE "${scratch}")
        endif()
        message(FATAL_ERROR "${what} failed (${result})")
    endif()
endfunction()

if(NOT FROM_TARBALL)
    file(REMOVE_RECURSE "${PROJECT}")
    run("npm run new-page" npm run new-page -- "${PROJECT}" WORKING_DIRECTORY "${WEB_DIR}")
    run("npm run install-page" "${CMAKE_COMMAND}" -E env "HOME=${HOME_DIR}"
        npm --prefix "${PROJECT}" run install-page)
    return()
endif()

execute_process(COMMAND mktemp -d /tmp/quillbeat-tarball-alone-XXXXXX
    OUTPUT_VARIABLE scratch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
run("npm run pack:client" npm run pack:client --silent -- "${scratch}/packed" WORKING_DIRECTORY "${WEB_DIR}")
file(GLOB packed "${scratch}/packed/*.tgz")
get_filename_component(tarball "${packed}" NAME)
file(COPY "${packed}" DESTINATION "${scratch}/author")
file(REMOVE_RECURSE "${scratch}/packed")

# The author's npm settings stay (their cache and registry, so Vite comes
# from the cache where it can); the repository's do not reach the scratch.
execute_process(COMMAND npm config get cache OUTPUT_VARIABLE npm_cache OUTPUT_STRIP_TRAILING_WHITESPACE)
execute_process(COMMAND npm config get registry OUTPUT_VARIABLE npm_registry OUTPUT_STRIP_TRAILING_WHITESPACE)
set(author_env "${CMAKE_COMMAND}" -E env --unset=QUILLBEAT_JUCE_DIR --unset=INIT_CWD
    "HOME=${scratch}/home" "npm_config_cache=${npm_cache}" "npm_config_registry=${npm_registry}"
    npm_config_prefer_offline=true npm_config_update_notifier=false)

run("npx quillbeat-page create" ${author_env}
    npx --yes "--package=./${tarball}" -- quillbeat-page create my-page WORKING_DIRECTORY "${scratch}/author")
run("npm run install-page" ${author_env} npm run install-page WORKING_DIRECTORY "${scratch}/author/my-page")

file(MAKE_DIRECTORY "${HOME_DIR}/.config/Quillbeat")
file(COPY "${scratch}/home/.config/Quillbeat/web" DESTINATION "${HOME_DIR}/.config/Quillbeat")
file(REMOVE_RECURSE "${scratch}")
