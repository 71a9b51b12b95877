# For a JUCE tree whose bundled zlib, libpng and libjpeg were removed, as in
# Debian's source tarball of upstream JUCE: compile JUCE against the system's
# copies and link them everywhere.
#
# Give it through the CMAKE_TOOLCHAIN_FILE environment variable rather than the
# cache variable: JUCE builds its juceaide helper with a nested configure that
# inherits the environment but none of our cache variables. A full JUCE
# checkout (Windows, macOS, git) needs none of this.
foreach(lang C CXX)
    set(CMAKE_${lang}_FLAGS_INIT
        "-DJUCE_INCLUDE_ZLIB_CODE=0 -DJUCE_INCLUDE_PNGLIB_CODE=0 -DJUCE_INCLUDE_JPEGLIB_CODE=0")
    set(CMAKE_${lang}_STANDARD_LIBRARIES_INIT "-lz -lpng -ljpeg")
endforeach()
