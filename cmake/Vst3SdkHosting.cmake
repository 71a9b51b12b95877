# A minimal VST3 host built from the SDK sources that ship inside JUCE, so the
# built bundles are loaded the way a DAW loads them, without JUCE's own hosting
# code. The VST3-level tests and the benchmarks both use it.
find_package(Threads REQUIRED)

set(sdk "${QUILLBEAT_JUCE_TREE}/modules/juce_audio_processors/format_types/VST3_SDK")

add_library(Vst3SdkHosting STATIC
    "${sdk}/public.sdk/source/vst/hosting/module.cpp"
    "${sdk}/public.sdk/source/vst/hosting/module_linux.cpp"
    "${sdk}/public.sdk/source/vst/hosting/hostclasses.cpp"
    "${sdk}/public.sdk/source/vst/hosting/pluginterfacesupport.cpp"
    "${sdk}/public.sdk/source/vst/utility/stringconvert.cpp"
    "${sdk}/public.sdk/source/vst/vstinitiids.cpp"
    "${sdk}/public.sdk/source/common/commonstringconvert.cpp"
    "${sdk}/public.sdk/source/common/memorystream.cpp"
    "${sdk}/pluginterfaces/base/coreiids.cpp"
    "${sdk}/pluginterfaces/base/funknown.cpp"
    "${sdk}/pluginterfaces/base/ustring.cpp")
target_include_directories(Vst3SdkHosting SYSTEM PUBLIC "${sdk}")
target_link_libraries(Vst3SdkHosting PUBLIC ${CMAKE_DL_LIBS} Threads::Threads)
target_compile_options(Vst3SdkHosting PRIVATE -w)

unset(sdk)
