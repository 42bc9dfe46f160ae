// The true-peak setting: saved only while on, restored, the latency reported and the host told,
// bypass keeping time with it, true-peak output meters, switching from another thread; the window's
// Size, saved in the same document.

#include "ProcessorTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

using namespace hostCalls;

namespace
{
const char* const truePeakDocument =
    "<Root><Gain>0</Gain><Attack>0.025</Attack><Release>0.02</Release>"
    "<Threshold>0.5</Threshold><idxInputConfig>0</idxInputConfig><TruePeak>1</TruePeak></Root>";

juce::String documentText (const juce::MemoryBlock& block)
{
    return juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8,
                                   static_cast<int> (block.getSize()) - 9);
}

struct LatencyListener : juce::AudioProcessorListener
{
    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged (juce::AudioProcessor* p, const ChangeDetails& details) override
    {
        if (details.latencyChanged)
        {
            ++changes;
            last = p->getLatencySamples();
        }
    }
    int changes = 0, last = -1;
};

// +a +a -a -a at fs/4: every sample at 0.707 of the true peak a.
void fillQuarterRate (juce::AudioBuffer<float>& buffer, float a)
{
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (
                ch, i, a * std::sin (1.5707963f * static_cast<float> (i) + 0.7853982f));
}

float meterDb (float level)
{
    return (level - 1.00001f) * 40.0f + 10.0f; // the meter scale between -30 and +10 dB
}
} // namespace

TEST (ProcessorTruePeak, SavedAsOneMoreElementOnlyWhileOnAndRestored)
{
    auto p = createProcessor();
    const auto samplePeakDocument = saveState (*p);
    EXPECT_FALSE (documentText (samplePeakDocument).contains ("TruePeak"));

    p->setTruePeakMode (true);
    EXPECT_EQ (documentText (saveState (*p)), truePeakDocument);
    p->setTruePeakMode (false);
    EXPECT_EQ (saveState (*p), samplePeakDocument); // byte for byte as before

    // Restored: any letter case, a later element winning, "0" and a missing element meaning off.
    auto q = createProcessor();
    for (const auto& [text, expected] :
         { std::make_pair ("<Root><truepeak>1</truepeak></Root>", true),
           std::make_pair ("<Root><TruePeak>1</TruePeak><TruePeak>0</TruePeak></Root>", false),
           std::make_pair ("<Root><TruePeak> 2x</TruePeak></Root>", true),
           std::make_pair ("<Root><Gain>0.1</Gain></Root>", false) })
    {
        q->uiRefreshNeeded = false;
        loadState (*q, makeStateBlock (text));
        EXPECT_EQ (q->isTruePeakMode(), expected) << text;
        EXPECT_TRUE (q->uiRefreshNeeded.load()) << text;
    }
    loadState (*q, makeStateBlock (truePeakDocument));
    EXPECT_EQ (documentText (saveState (*q)), truePeakDocument);
}

TEST (ProcessorTruePeak, LatencyGrowsByTheDetectorsDelayAndTheHostIsTold)
{
    auto p = createProcessor();
    LatencyListener host;
    p->addListener (&host);

    p->setTruePeakMode (true); // before the first prepareToPlay: reported when it runs
    EXPECT_EQ (host.changes, 0);
    p->prepareToPlay (48000.0, 512);
    EXPECT_EQ (p->getLatencySamples(), 187);
    EXPECT_EQ (host.last, 187);

    p->setTruePeakMode (false);
    EXPECT_EQ (host.last, 48);
    EXPECT_EQ (p->getReportedLatency(), 48);
    const int changes = host.changes;
    p->setTruePeakMode (false); // no change, no message
    EXPECT_EQ (host.changes, changes);

    loadState (*p, makeStateBlock (truePeakDocument));
    EXPECT_EQ (host.last, 187);
    p->prepareToPlay (96000.0, 512);
    EXPECT_EQ (p->getLatencySamples(), 235);

    // Without a look-ahead the detector still delays; sample-peak mode then has no delay at all.
    setParameter (*p, CorvaneAudioProcessor::paramAttackTime, 0.0f);
    p->prepareToPlay (48000.0, 512);
    EXPECT_EQ (p->getLatencySamples(), 139);
    p->setTruePeakMode (false);
    p->prepareToPlay (48000.0, 512);
    EXPECT_EQ (p->getLatencySamples(), 0);
    p->removeListener (&host);
}

TEST (ProcessorTruePeak, BypassDelaysByTheReportedLatencyInEitherMode)
{
    for (const bool truePeak : { true, false })
    {
        auto p = createProcessor();
        p->setTruePeakMode (! truePeak);
        p->prepareToPlay (48000.0, 512);
        p->setTruePeakMode (truePeak); // changed after preparing, as from the window
        const int latency = p->getLatencySamples();
        ASSERT_EQ (latency, truePeak ? 187 : 48);

        juce::AudioBuffer<float> in (4, 512), buffer (4, 512);
        juce::AudioBuffer<float> history (4, 512 * 8);
        for (int block = 0; block < 8; ++block)
        {
            fillNoise (in, static_cast<std::uint32_t> (block), 2.0f);
            for (int ch = 0; ch < 4; ++ch)
                history.copyFrom (ch, block * 512, in, ch, 0, 512);
            buffer.makeCopyOf (in);
            // In bypass from the start of block 2 on: after the 5 ms fade, the input delayed.
            if (block < 2)
                process (*p, buffer);
            else
                processBypassed (*p, buffer);
            if (block >= 3)
            {
                for (int ch = 0; ch < 4; ++ch)
                    for (int i = 0; i < 512; ++i)
                        ASSERT_EQ (buffer.getSample (ch, i),
                                   history.getSample (ch, block * 512 + i - latency))
                            << truePeak << " block " << block << " frame " << i;
            }
        }
    }
}

TEST (ProcessorTruePeak, OutputMetersShowTruePeaks)
{
    // A pattern whose samples lie 3 dB under its true peak, below the ceiling: the output
    // meters read the true peak in true-peak mode and the samples in sample-peak mode. In
    // true-peak mode they rest until a window shows them.
    for (const bool truePeak : { false, true })
    {
        auto p = createProcessor();
        setParameter (*p, CorvaneAudioProcessor::paramMaxPeakLevel, 1.0f); // +10 dB: no limiting
        p->setTruePeakMode (truePeak);
        p->prepareToPlay (48000.0, 512);
        juce::AudioBuffer<float> buffer (4, 512);
        const auto play = [&] (int blocks)
        {
            for (int block = 0; block < blocks; ++block)
            {
                fillQuarterRate (buffer, 0.5f); // true peak -6.02 dBTP, samples -9.03 dBFS
                process (*p, buffer);
            }
        };
        if (truePeak)
        {
            play (10);
            for (const auto& level : p->meterLevels)
                EXPECT_EQ (level.load(), 0.0f);
            p->addMeterViewer();
        }
        // (Long enough for the meters to fall back from the onset, which does overshoot.)
        play (60);
        // (In true-peak mode the detector takes the renderer's 4x meter's points too, which
        // read this pattern 0.07 dB high.)
        const float expectedDb = truePeak ? -5.95f : -9.03f;
        for (int slot = 4; slot < 8; ++slot)
            EXPECT_NEAR (
                meterDb (p->meterLevels[static_cast<size_t> (slot)].load()), expectedDb, 0.05f)
                << slot << (truePeak ? " true peak" : " sample peak");
        EXPECT_NEAR (meterDb (p->meterLevels[0].load()), -9.03f, 0.05f); // inputs: samples
        if (truePeak)
            p->removeMeterViewer();
    }
}

TEST (ProcessorTruePeak, SwitchedFromAnotherThreadWhileAudioRuns)
{
    // The window's thread switches the mode and reads the latency while the audio thread
    // processes loud blocks: the output stays finite and within the ceiling's clamp, and the
    // latency reported at the end belongs to the mode chosen last.
    auto p = createProcessor();
    p->prepareToPlay (48000.0, 256);
    std::atomic<bool> done { false };
    std::thread window (
        [&]
        {
            for (int i = 0; i < 400; ++i)
            {
                p->setTruePeakMode (i % 2 == 0);
                (void) p->getReportedLatency();
                std::this_thread::yield();
            }
            p->setTruePeakMode (true);
            done = true;
        });
    juce::AudioBuffer<float> buffer (4, 256);
    float largest = 0.0f;
    for (std::uint32_t block = 0; ! done || block < 200; ++block)
    {
        fillNoise (buffer, block, 4.0f);
        process (*p, buffer);
        largest = std::max (largest, buffer.getMagnitude (0, 256));
    }
    window.join();
    EXPECT_LE (largest, 1.0f);
    EXPECT_EQ (p->getLatencySamples(), 187);
    EXPECT_EQ (p->getReportedLatency(), 187);
}

// The window's Size rides in the same document: only when not 100 %, restored, anything but the
// offered sizes meaning 100 %.
TEST (ProcessorWindowSize, SavedOnlyWhenNotTheDefaultAndRestored)
{
    auto p = createProcessor();
    const auto defaultDocument = saveState (*p);
    p->setWindowSize (150);
    EXPECT_EQ (documentText (saveState (*p)),
               "<Root><Gain>0</Gain><Attack>0.025</Attack><Release>0.02</Release>"
               "<Threshold>0.5</Threshold><idxInputConfig>0</idxInputConfig><Size>150</Size>"
               "</Root>");
    p->setWindowSize (130); // not offered: ignored
    EXPECT_EQ (p->getWindowSize(), 150);

    auto q = createProcessor();
    q->uiRefreshNeeded = false;
    loadState (*q, saveState (*p));
    EXPECT_EQ (q->getWindowSize(), 150);
    EXPECT_TRUE (q->uiRefreshNeeded.load());
    p->setWindowSize (100);
    EXPECT_EQ (saveState (*p), defaultDocument); // byte for byte as before

    for (const auto& [text, expected] :
         { std::make_pair ("<Root><size>200</size></Root>", 200),
           std::make_pair ("<Root><Size>125</Size><Size>130</Size></Root>", 100),
           std::make_pair ("<Root><Size>x</Size></Root>", 100),
           std::make_pair ("<Root><Gain>0.1</Gain></Root>", 100) })
    {
        q->setWindowSize (150);
        loadState (*q, makeStateBlock (text));
        EXPECT_EQ (q->getWindowSize(), expected) << text;
    }
}
