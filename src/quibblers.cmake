# The quibblers program: launch options, then the app in a window, headless on a recording, or
# with live sound in the terminal. The parts that need the GL, cairo, window and sound-device
# libraries are modules (lib/quibblers/*.so) the program loads on the paths that use them.
add_library(qb_app STATIC
  app/AppHost.cpp
  app/AnswerOutputs.cpp
  app/HeadlessAnswer.cpp
  app/AppSettings.cpp
  app/TerminationSignals.cpp
  app/ViewModule.cpp
  Classes/PuppetAppDelegate.cpp
  LaunchOptions.cpp
  HelpFormatter.cpp
  LiveRun.cpp)
target_include_directories(qb_app PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/app)
target_link_libraries(qb_app PUBLIC qb_engine THAnalytics qb_platform_offline_audio qb_platform_audio_files
                      qb_platform_video qb_platform_modules qb_platform_core PRIVATE qb_warnings)
# The remembered choices' key file; every run reads it (a headless answer for its analytics switch).
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0)
target_link_libraries(qb_app PRIVATE PkgConfig::GLIB)
# CLI11's inlined string splitting trips GCC's flow analysis; the warning is not ours.
set_source_files_properties(LaunchOptions.cpp HelpFormatter.cpp PROPERTIES COMPILE_OPTIONS -Wno-null-dereference)

# The app's views: the window app with its controls, recorder and overlays, and the headless
# answer's pictures (the view module).
add_library(qb_app_view STATIC
  app/MainInterface.cpp
  app/MicrophoneOffView.cpp
  app/TuningPanelView.cpp
  app/WindowApp.cpp
  app/WindowControls.cpp
  app/WindowRecorder.cpp
  app/ViewModuleEntries.cpp)
target_link_libraries(qb_app_view PUBLIC qb_app qb_display PRIVATE PkgConfig::GLIB qb_warnings)

add_executable(quibblers main.cpp)
# Every object of the program's own libraries is in it, and exported: the modules take what
# they need of it (engine state, run loop, delegate) from the program, so there is one of each.
set(qb_program_libraries qb_app qb_engine THAnalytics qb_platform_offline_audio qb_platform_audio
    qb_platform_audio_files qb_platform_video qb_platform_modules qb_platform_core
    qb_platform_device qb_platform_network)
foreach(library IN LISTS qb_program_libraries)
  target_sources(quibblers PRIVATE $<TARGET_OBJECTS:${library}>)
endforeach()
target_link_libraries(quibblers PRIVATE qb_app qb_filter_pool_operators qb_warnings)
set_target_properties(quibblers PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} ENABLE_EXPORTS ON)

qb_add_module(view qb_app_view qb_display qb_platform_gl qb_platform_drawing)
qb_add_module(window qb_platform_window)
qb_add_module(sound qb_platform_sound_devices)
