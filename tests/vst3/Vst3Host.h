#pragma once

// A minimal VST3 host built from the SDK's own hosting classes: loads the
// built Quillbeat.vst3 the way a DAW does and makes connected instances.

#include <public.sdk/source/common/memorystream.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>
#include <public.sdk/source/vst/hosting/module.h>
#include <public.sdk/source/vst/utility/stringconvert.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstprocesscontext.h>
#include <pluginterfaces/vst/ivstunits.h>

#include <gtest/gtest.h>

#include <string>

namespace vst3host
{
using namespace Steinberg;
using namespace Steinberg::Vst;

// The interface T of an object, if it has one, as an owning pointer.
template <typename T>
IPtr<T> query (FUnknown* object)
{
    T* result = nullptr;
    if (object == nullptr || object->queryInterface (T::iid, reinterpret_cast<void**> (&result)) != kResultOk)
        return nullptr;
    return owned (result);
}

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

    static VST3::Hosting::ClassInfo classInfo (const char* category)
    {
        for (const auto& info : factory().classInfos())
            if (info.category() == category)
                return info;

        ADD_FAILURE() << "no class of category " << category;
        return {};
    }

    // One plug-in instance: processor component and controller, connected the way hosts connect them.
    struct Instance
    {
        IPtr<IComponent> component;
        IPtr<IAudioProcessor> processor;
        IPtr<IEditController> controller;
        IPtr<IConnectionPoint> componentPoint, controllerPoint;

        Instance()
        {
            component = factory().createInstance<IComponent> (classInfo (kVstAudioEffectClass).ID());
            if (component == nullptr || component->initialize (host) != kResultOk)
                return;

            processor = query<IAudioProcessor> (component);

            TUID controllerId {};
            if (component->getControllerClassId (controllerId) != kResultOk)
                return;

            controller = factory().createInstance<IEditController> (VST3::UID::fromTUID (controllerId));
            if (controller == nullptr || controller->initialize (host) != kResultOk)
                return;

            componentPoint = query<IConnectionPoint> (component);
            controllerPoint = query<IConnectionPoint> (controller);
            if (componentPoint && controllerPoint)
            {
                componentPoint->connect (controllerPoint);
                controllerPoint->connect (componentPoint);
            }
        }

        ~Instance()
        {
            if (componentPoint && controllerPoint)
            {
                componentPoint->disconnect (controllerPoint);
                controllerPoint->disconnect (componentPoint);
            }
            if (controller)
                controller->terminate();
            if (component)
                component->terminate();
        }

        bool valid() const { return component && processor && controller; }

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
