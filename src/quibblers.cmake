# The quibblers program: launch options, then the app in a window, headless on a recording, or
# with live sound in the terminal.
add_library(qb_app STATIC
  app/MainInterface.cpp
  app/AppHost.cpp
  app/AnswerOutputs.cpp
  app/HeadlessAnswer.cpp
  app/WindowApp.cpp
  app/WindowControls.cpp
  app/WindowRecorder.cpp
  app/AppSettings.cpp
  app/TuningPanelView.cpp
  app/MicrophoneOffView.cpp
  app/TerminationSignals.cpp
  Classes/PuppetAppDelegate.cpp
  LaunchOptions.cpp
  HelpFormatter.cpp
  LiveRun.cpp)
target_include_directories(qb_app PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/app)
target_link_libraries(qb_app PUBLIC qb_engine qb_display THAnalytics qb_platform_offline
                      qb_platform_rtaudio qb_platform_sndfile qb_platform_ffmpeg qb_platform_sdl
                      qb_platform_posix PRIVATE qb_warnings)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0)
target_link_libraries(qb_app PRIVATE PkgConfig::GLIB)
# CLI11's inlined string splitting trips GCC's flow analysis; the warning is not ours.
set_source_files_properties(LaunchOptions.cpp HelpFormatter.cpp PROPERTIES COMPILE_OPTIONS -Wno-null-dereference)

add_executable(quibblers main.cpp)
target_link_libraries(quibblers PRIVATE qb_app qb_filter_pool_operators qb_warnings)
set_target_properties(quibblers PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
