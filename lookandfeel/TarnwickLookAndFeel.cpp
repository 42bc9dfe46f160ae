#include "lookandfeel/TarnwickLookAndFeel.h"

namespace
{
// JUCE changes the desktop's default look-and-feel only on its message thread or under the
// message manager's lock: the desktop tells its windows from the calling thread, and the message
// thread reads the default whenever it draws or looks up a font. Inside a plug-in wrapper on
// Linux, hosts create and destroy instances on threads of their own while the wrapper's message
// thread runs (JUCE's VST 2.4 wrapper takes the lock around both itself, its VST3 wrapper only
// around destruction, its LV2 wrapper never), so the lock is taken here; that message thread is
// always dispatching, as the wrappers' own locking relies on. Programs without a plug-in wrapper
// (the renderer, the tests) call from the thread they choose, as before.
void setDesktopDefault (juce::LookAndFeel* lookAndFeel)
{
#if JUCE_LINUX || JUCE_BSD
    const auto loadedAs = juce::PluginHostType::getPluginLoadedAs();
    const bool inPluginWrapper = loadedAs != juce::AudioProcessor::wrapperType_Undefined
                                 && loadedAs != juce::AudioProcessor::wrapperType_Standalone;
    if (inPluginWrapper && juce::MessageManager::getInstanceWithoutCreating() != nullptr
        && ! juce::MessageManager::existsAndIsLockedByCurrentThread())
    {
        const juce::MessageManagerLock lock;
        juce::Desktop::getInstance().setDefaultLookAndFeel (lookAndFeel);
        return;
    }
#endif
    juce::Desktop::getInstance().setDefaultLookAndFeel (lookAndFeel);
}
} // namespace

CorvaneAudioProcessor::TarnwickLookAndFeel::TarnwickLookAndFeel()
{
    setDesktopDefault (this);
}

CorvaneAudioProcessor::TarnwickLookAndFeel::~TarnwickLookAndFeel()
{
    // Also tells every desktop component, last to first, that its look-and-feel changed.
    setDesktopDefault (nullptr);
}
