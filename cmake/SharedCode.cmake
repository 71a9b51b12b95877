# Test and benchmark programs build against the very code that ships: they link
# the plug-in's shared-code library and take its include paths and definitions,
# without compiling the JUCE modules a second time.
function(quillbeat_use_shared_code target)
    target_link_libraries(${target} PRIVATE Quillbeat)
    target_include_directories(${target} PRIVATE $<TARGET_PROPERTY:Quillbeat,INCLUDE_DIRECTORIES>)
    target_compile_definitions(${target} PRIVATE $<TARGET_PROPERTY:Quillbeat,COMPILE_DEFINITIONS>)
endfunction()
