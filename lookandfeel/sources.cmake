list(APPEND ORVALIS_OWN_SOURCES
    "${PROJECT_SOURCE_DIR}/lookandfeel/AltLookAndFeel.cpp"
    "${PROJECT_SOURCE_DIR}/lookandfeel/AltLookAndFeel_Gain.cpp"
    "${PROJECT_SOURCE_DIR}/lookandfeel/AltLookAndFeel_MaxPeak.cpp"
    "${PROJECT_SOURCE_DIR}/lookandfeel/AltLookAndFeel_transparentButton.cpp"
    "${PROJECT_SOURCE_DIR}/lookandfeel/TarnwickLookAndFeel.cpp"
    "${PROJECT_SOURCE_DIR}/lookandfeel/WindowPictures.cpp")
