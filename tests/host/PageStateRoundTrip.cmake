# The page state through the stand-in host's flags, as a page author checks
# what a project keeps: set it by flag, save the state, load it in a new
# process and print it; the text must come back byte for byte.
#   cmake -DHOST=<QuillbeatHost> -DWORK=<scratch folder> -P PageStateRoundTrip.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# Runs the host headless for a moment; what it printed after its summary line
# lands in FILE (sed keeps the bytes as they are; CMake's own reading would
# drop carriage returns).
function(run_host FILE)
    execute_process(COMMAND "${HOST}" --seconds 0.3 ${ARGN}
                    COMMAND sed "0,/^Quillbeat host: /d"
        WORKING_DIRECTORY "${WORK}" RESULTS_VARIABLE results OUTPUT_FILE "${WORK}/${FILE}" ERROR_VARIABLE errors)
    if(NOT results STREQUAL "0;0")
        message(FATAL_ERROR "QuillbeatHost ${ARGN} failed (${results}):\n${errors}")
    endif()
endfunction()

function(expect_same_bytes expectedFile printedFile what)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${WORK}/${expectedFile}" "${WORK}/${printedFile}"
                    RESULT_VARIABLE differ)
    if(NOT differ EQUAL 0)
        execute_process(COMMAND od -c "${WORK}/${expectedFile}" "${WORK}/${printedFile}")
        message(FATAL_ERROR "${what}: the page state came back other than it went in (above: sent, then printed)")
    endif()
endfunction()

# JSON as a page stores it, with what a codec could lose: non-ASCII text,
# quotes, backslashes, a tab, CR LF and a final line end.
file(WRITE "${WORK}/page-state.txt"
    "{\"notes\":\"café · 1–4 … 日本 𝄞\\n\\\"quoted\\\" \\\\ back\",\r\n\t\"bars\":[9,10]}\n")

run_host(ignored.txt --page-state-file page-state.txt --save-state saved.qbstate)
run_host(printed.txt --load-state saved.qbstate --print-page-state)
expect_same_bytes(page-state.txt printed.txt "file, save, load in a new process, print")

# The text flag, in one run; and an empty page state.
set(text "notes with spaces, ümlauts and \"quotes\"")
file(WRITE "${WORK}/flag.txt" "${text}")
run_host(printed.txt --page-state "${text}" --print-page-state)
expect_same_bytes(flag.txt printed.txt "--page-state")

file(WRITE "${WORK}/empty.txt" "")
run_host(printed.txt --load-state saved.qbstate --page-state "" --print-page-state)
expect_same_bytes(empty.txt printed.txt "an empty --page-state over a loaded one")

# A file that is not UTF-8 text is refused, not stored garbled.
string(ASCII 233 eAcuteInLatin1)
file(WRITE "${WORK}/latin1.txt" "caf${eAcuteInLatin1}")
execute_process(COMMAND "${HOST}" --seconds 0.3 --page-state-file latin1.txt --print-page-state
    WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if(result EQUAL 0 OR NOT errors MATCHES "not UTF-8 text")
    message(FATAL_ERROR "a page-state file in Latin-1 was not refused (${result}): ${errors}")
endif()
