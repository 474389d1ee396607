# The quibblers program: launch options, then the app on the live or the offline audio device.
add_executable(quibblers main.cpp LaunchOptions.cpp OfflineRun.cpp LiveRun.cpp)
target_include_directories(quibblers PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quibblers PRIVATE qb_engine qb_platform_offline qb_platform_rtaudio
                      qb_platform_sndfile qb_platform_posix qb_warnings)
set_target_properties(quibblers PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# CLI11's inlined string splitting trips GCC's flow analysis; the warning is not ours.
set_source_files_properties(LaunchOptions.cpp PROPERTIES COMPILE_OPTIONS -Wno-null-dereference)
