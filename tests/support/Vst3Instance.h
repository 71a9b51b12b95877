#pragma once

// One instance of a loaded VST3 bundle's audio effect, made the way hosts make
// it: processor component and edit controller, both initialised and connected
// to each other. The VST3-level tests and the benchmarks share it; it depends
// on nothing but the SDK, and reports failure through valid().

#include <public.sdk/source/vst/hosting/module.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>

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

// Taken down in the reverse order when destroyed. Whatever step fails leaves
// the later members empty.
class Vst3Instance
{
public:
    Vst3Instance (const VST3::Hosting::PluginFactory& factory, FUnknown* hostContext)
    {
        for (const auto& info : factory.classInfos())
            if (info.category() == kVstAudioEffectClass)
            {
                component = factory.createInstance<IComponent> (info.ID());
                break;
            }

        if (component == nullptr || component->initialize (hostContext) != kResultOk)
            return;

        processor = query<IAudioProcessor> (component);

        TUID controllerId {};
        if (component->getControllerClassId (controllerId) != kResultOk)
            return;

        controller = factory.createInstance<IEditController> (VST3::UID::fromTUID (controllerId));
        if (controller == nullptr || controller->initialize (hostContext) != kResultOk)
            return;

        componentPoint = query<IConnectionPoint> (component);
        controllerPoint = query<IConnectionPoint> (controller);
        if (componentPoint && controllerPoint)
        {
            componentPoint->connect (controllerPoint);
            controllerPoint->connect (componentPoint);
        }
    }

    ~Vst3Instance()
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

    Vst3Instance (const Vst3Instance&) = delete;
    Vst3Instance& operator= (const Vst3Instance&) = delete;

    bool valid() const { return component && processor && controller; }

    IPtr<IComponent> component;
    IPtr<IAudioProcessor> processor;
    IPtr<IEditController> controller;

private:
    IPtr<IConnectionPoint> componentPoint, controllerPoint;
};

} // namespace vst3host
