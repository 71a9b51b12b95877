#include "Vst3EditorHost.h"

// The SDK leaves defining the GUI interface identifiers to the host.
namespace Steinberg
{
DEF_CLASS_IID (IPlugView)
DEF_CLASS_IID (IPlugFrame)
DEF_CLASS_IID (Linux::IEventHandler)
DEF_CLASS_IID (Linux::ITimerHandler)
DEF_CLASS_IID (Linux::IRunLoop)
} // namespace Steinberg
