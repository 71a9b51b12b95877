#pragma once

// A minimal VST3 host built from the SDK's own hosting classes: loads the
// built Quillbeat.vst3 the way a DAW does and makes connected instances.

#include <public.sdk/source/common/memorystream.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>
#include <public.sdk/source/vst/utility/stringconvert.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>
#include <pluginterfaces/vst/ivstunits.h>

#include "../support/Vst3Instance.h"
#include "../support/Vst3ProcessData.h"

#include <gtest/gtest.h>

#include <string>

namespace vst3host
{
using namespace Steinberg;
using namespace Steinberg::Vst;

inline std::string utf8 (const TChar* text) { return StringConvert::convert (text); }

inline std::string streamBytes (MemoryStream& stream)
{
    return std::string (stream.getData(), (size_t) stream.getSize());
}

inline IPtr<MemoryStream> streamHolding (const std::string& bytes)
{
    auto stream = owned (new MemoryStream());
    int32 written = 0;
    stream->write (const_cast<char*> (bytes.data()), (int32) bytes.size(), &written);
    stream->seek (0, IBStream::kIBSeekSet, nullptr);
    return stream;
}

// Loads the module once per test suite.
class Vst3Module : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        std::string error;
        module = VST3::Hosting::Module::create (QUILLBEAT_VST3_BUNDLE, error);
        ASSERT_TRUE (module) << "cannot load " << QUILLBEAT_VST3_BUNDLE << ": " << error;
        host = owned (new HostApplication());
    }

    static void TearDownTestSuite()
    {
        host = nullptr;
        module = nullptr;
    }

    static const VST3::Hosting::PluginFactory& factory() { return module->getFactory(); }

    // One plug-in instance, connected the way hosts connect them.
    struct Instance : Vst3Instance
    {
        Instance() : Vst3Instance (factory(), host) {}

        std::string savedState() const
        {
            auto stream = owned (new MemoryStream());
            EXPECT_EQ (component->getState (stream), kResultOk);
            return streamBytes (*stream);
        }
    };

    static inline VST3::Hosting::Module::Ptr module;
    static inline IPtr<HostApplication> host;
};

} // namespace vst3host
