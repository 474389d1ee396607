if(QB_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(QB_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(QB_SANITIZE STREQUAL "fuzz")
  # libFuzzer targets (clang only): everything instrumented, the fuzzers link the engine.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT QB_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QB_SANITIZE must be '', 'address', 'thread' or 'fuzz'")
endif()

# Adds every immediate subdirectory of DIR that has a CMakeLists.txt, so new back ends and test
# groups join the build without editing a shared list.
function(qb_add_subdirectories dir)
  file(GLOB children LIST_DIRECTORIES true RELATIVE "${dir}" "${dir}/*")
  list(SORT children)
  foreach(child IN LISTS children)
    if(NOT child STREQUAL "support" AND IS_DIRECTORY "${dir}/${child}"
       AND EXISTS "${dir}/${child}/CMakeLists.txt")
      add_subdirectory("${dir}/${child}")
    endif()
  endforeach()
endfunction()
