list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/processor/CorvaneAudioProcessor.cpp")
list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/processor/StateTextCheck.cpp")
list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/processor/InputHistory.cpp")
