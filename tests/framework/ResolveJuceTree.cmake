# Runs the build's JUCE-fixes step on its own, as configure runs it:
#   cmake -DTREE=<tree> -DPATCH_DIR=<patches> -DCOPY_DIR=<dir> -DREPORT_FILE=<file> -P ResolveJuceTree.cmake
# Prints "tree: <the tree the build would compile>".
include("${CMAKE_CURRENT_LIST_DIR}/../../cmake/JuceFixes.cmake")
quillbeat_juce_version(version "${TREE}")
quillbeat_juce_tree_with_fixes(tree
    TREE "${TREE}"
    VERSION "${version}"
    PATCH_DIR "${PATCH_DIR}"
    COPY_DIR "${COPY_DIR}"
    REPORT_FILE "${REPORT_FILE}")
message("tree: ${tree}")
