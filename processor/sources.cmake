list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/processor/CorvaneAudioProcessor.cpp")
list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/processor/StateTextCheck.cpp")
list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/processor/InputHistory.cpp")
list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/processor/SettingsCodec.cpp")
list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/processor/SettingsHandover.cpp")
list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/processor/TimeKeepingBypass.cpp")
