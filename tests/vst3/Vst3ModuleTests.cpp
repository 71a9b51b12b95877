// Loads the built Quillbeat.vst3 through the VST3 SDK's own hosting classes and
// checks what a DAW sees: factory, classes, buses, processing, state, parameters
// and programs.

#include "Vst3Host.h"

#include <cstring>
#include <random>
#include <vector>

namespace
{
using namespace vst3host;

TEST_F (Vst3Module, BundleCarriesItsModuleInfo)
{
    const auto path = VST3::Hosting::Module::getModuleInfoPath (QUILLBEAT_VST3_BUNDLE);
    ASSERT_TRUE ((bool) path);
    EXPECT_NE (path->find ("Quillbeat.vst3/Contents/Resources/moduleinfo.json"), std::string::npos) << *path;
}

TEST_F (Vst3Module, FactoryNamesTheVendor)
{
    const auto info = factory().info();
    EXPECT_EQ (info.vendor(), "Quillbeat");
    EXPECT_EQ (info.url(), "");
    EXPECT_EQ (info.email(), "");
}

TEST_F (Vst3Module, FactoryListsThreeClassesInOrder)
{
    struct Expected
    {
        const char* category;
        const char* subCategories;
    };
    const Expected expected[] = {
        { kVstAudioEffectClass, "Fx" },
        { kVstComponentControllerClass, "Fx" },
        { "Plugin Compatibility Class", "" },
    };

    const auto infos = factory().classInfos();
    ASSERT_EQ (infos.size(), std::size (expected));

    for (size_t i = 0; i < infos.size(); ++i)
    {
        SCOPED_TRACE (i);
        EXPECT_EQ (infos[i].category(), expected[i].category);
        EXPECT_EQ (infos[i].subCategoriesString(), expected[i].subCategories);
        EXPECT_EQ (infos[i].name(), "Quillbeat");
        EXPECT_EQ (infos[i].vendor(), "Quillbeat");
        EXPECT_EQ (infos[i].version(), "1.0.0");
        EXPECT_EQ (infos[i].classFlags(), 0u);
        EXPECT_EQ (infos[i].cardinality(), PClassInfo::kManyInstances);
    }
}

TEST_F (Vst3Module, ShowsOneStereoInputAndOutputAndNoEventBuses)
{
    Instance instance;
    ASSERT_TRUE (instance.valid());
    auto& component = *instance.component;

    EXPECT_EQ (component.getBusCount (kAudio, kInput), 1);
    EXPECT_EQ (component.getBusCount (kAudio, kOutput), 1);
    EXPECT_EQ (component.getBusCount (kEvent, kInput), 0);
    EXPECT_EQ (component.getBusCount (kEvent, kOutput), 0);

    const std::pair<BusDirection, const char*> buses[] = { { kInput, "Input" }, { kOutput, "Output" } };

    for (const auto& [direction, name] : buses)
    {
        BusInfo info {};
        ASSERT_EQ (component.getBusInfo (kAudio, direction, 0, info), kResultOk);
        EXPECT_EQ (utf8 (info.name), name);
        EXPECT_EQ (info.channelCount, 2);
        EXPECT_EQ (info.busType, kMain);
        EXPECT_TRUE (info.flags & BusInfo::kDefaultActive);

        SpeakerArrangement arrangement = 0;
        ASSERT_EQ (instance.processor->getBusArrangement (direction, 0, arrangement), kResultOk);
        EXPECT_EQ (arrangement, SpeakerArr::kStereo);
    }
}

TEST_F (Vst3Module, OffersOnly32BitProcessing)
{
    Instance instance;
    ASSERT_TRUE (instance.valid());
    EXPECT_EQ (instance.processor->canProcessSampleSize (kSample32), kResultTrue);
    EXPECT_NE (instance.processor->canProcessSampleSize (kSample64), kResultTrue);
}

TEST_F (Vst3Module, PassesAudioThroughBitForBitUnderAPlayingTransport)
{
    Instance instance;
    ASSERT_TRUE (instance.valid());
    auto& processor = *instance.processor;

    constexpr double sampleRate = 48000.0;
    constexpr int32 blockSize = 512;

    SpeakerArrangement stereo = SpeakerArr::kStereo;
    ASSERT_EQ (processor.setBusArrangements (&stereo, 1, &stereo, 1), kResultTrue);

    ProcessSetup setup { kRealtime, kSample32, blockSize, sampleRate };
    ASSERT_EQ (processor.setupProcessing (setup), kResultOk);
    instance.component->activateBus (kAudio, kInput, 0, true);
    instance.component->activateBus (kAudio, kOutput, 0, true);
    ASSERT_EQ (instance.component->setActive (true), kResultOk);
    processor.setProcessing (true);

    ProcessContext context {};
    context.state = ProcessContext::kPlaying | ProcessContext::kTempoValid | ProcessContext::kTimeSigValid;
    context.sampleRate = sampleRate;
    context.tempo = 128.0;
    context.timeSigNumerator = 4;
    context.timeSigDenominator = 4;
    context.projectTimeSamples = (TSamples) (12.5 * sampleRate);

    std::mt19937 random (99);
    std::uniform_real_distribution<float> noise (-1.0f, 1.0f);

    for (int block = 0; block < 20; ++block)
    {
        std::vector<float> inL (blockSize), inR (blockSize), outL (blockSize, 7.0f), outR (blockSize, 7.0f);
        for (int i = 0; i < blockSize; ++i)
        {
            inL[(size_t) i] = noise (random);
            inR[(size_t) i] = i == 0 ? 1.0e-40f : noise (random); // a denormal among the noise
        }
        const auto expectL = inL, expectR = inR;

        float* inputs[] = { inL.data(), inR.data() };
        float* outputs[] = { outL.data(), outR.data() };
        AudioBusBuffers inBus {}, outBus {};
        inBus.numChannels = 2;
        inBus.channelBuffers32 = inputs;
        outBus.numChannels = 2;
        outBus.channelBuffers32 = outputs;

        auto data = blockData (inBus, outBus, blockSize, &context);

        ASSERT_EQ (processor.process (data), kResultOk);
        ASSERT_EQ (std::memcmp (outL.data(), expectL.data(), sizeof (float) * blockSize), 0) << "block " << block;
        ASSERT_EQ (std::memcmp (outR.data(), expectR.data(), sizeof (float) * blockSize), 0) << "block " << block;

        context.projectTimeSamples += blockSize;
    }

    processor.setProcessing (false);
    instance.component->setActive (false);
}

TEST_F (Vst3Module, StateStartsWithTheSessionJsonAndRoundTrips)
{
    Instance first;
    ASSERT_TRUE (first.valid());

    const auto fresh = first.savedState();
    const std::string json = "{\r\n  \"windowWidth\": 900,\r\n  \"windowHeight\": 640,\r\n  \"webState\": \"\",\r\n  \"version\": 1\r\n}";
    EXPECT_EQ (fresh.compare (0, json.size(), json), 0) << fresh;

    // A block with only the processor's JSON, as another host or an older project might hold.
    auto custom = streamHolding (R"({"windowWidth": 1200, "windowHeight": 800, "webState": "page \u00e9"})");
    ASSERT_EQ (first.component->setState (custom), kResultOk);
    const auto saved = first.savedState();
    EXPECT_EQ (saved.rfind ("{\r\n  \"windowWidth\": 1200,\r\n  \"windowHeight\": 800,\r\n  \"webState\": \"page \xc3\xa9\"", 0), 0u) << saved;

    Instance second;
    ASSERT_TRUE (second.valid());
    ASSERT_EQ (second.component->setState (streamHolding (saved)), kResultOk);
    EXPECT_EQ (second.savedState(), saved);
}

TEST_F (Vst3Module, ControllerShowsOnlyTheBypassParameter)
{
    Instance instance;
    ASSERT_TRUE (instance.valid());
    auto& controller = *instance.controller;

    ASSERT_EQ (controller.getParameterCount(), 1);

    ParameterInfo info {};
    ASSERT_EQ (controller.getParameterInfo (0, info), kResultOk);
    EXPECT_EQ (info.id, 0x62797073u); // 'byps'
    EXPECT_EQ (utf8 (info.title), "Bypass");
    EXPECT_EQ (info.defaultNormalizedValue, 0.0);
    EXPECT_TRUE (info.flags & ParameterInfo::kIsBypass);
    EXPECT_EQ (controller.getParamNormalized (info.id), 0.0);
}

TEST_F (Vst3Module, UnitInfoListsOneUnnamedFactoryPreset)
{
    Instance instance;
    ASSERT_TRUE (instance.valid());
    auto units = query<IUnitInfo> (instance.controller);
    ASSERT_TRUE (units);

    ASSERT_EQ (units->getUnitCount(), 1);
    UnitInfo unit {};
    ASSERT_EQ (units->getUnitInfo (0, unit), kResultOk);
    EXPECT_EQ (utf8 (unit.name), "Root Unit");

    ASSERT_EQ (units->getProgramListCount(), 1);
    ProgramListInfo list {};
    ASSERT_EQ (units->getProgramListInfo (0, list), kResultOk);
    EXPECT_EQ (utf8 (list.name), "Factory Presets");
    EXPECT_EQ (list.programCount, 1);
    EXPECT_EQ (unit.programListId, list.id);

    String128 name {};
    ASSERT_EQ (units->getProgramName (list.id, 0, name), kResultOk);
    EXPECT_EQ (utf8 (name), "");
}

} // namespace
