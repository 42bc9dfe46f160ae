list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/editor/DesktopScale.cpp"
    "${PROJECT_SOURCE_DIR}/editor/VuMeter.cpp"
    "${PROJECT_SOURCE_DIR}/editor/BlueLine.cpp"
    "${PROJECT_SOURCE_DIR}/editor/PanelWidgets.cpp"
    "${PROJECT_SOURCE_DIR}/editor/OptionGUI.cpp"
    "${PROJECT_SOURCE_DIR}/editor/WelcomeGUI.cpp"
    "${PROJECT_SOURCE_DIR}/editor/CorvaneAudioProcessorEditor.cpp")
