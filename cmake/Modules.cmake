# qb_add_module(NAME LIBRARY...): lib/quibblers/NAME.so, a module the program loads with dlopen
# (platform/Modules.h), made of the objects of the given static libraries and linked with their
# outside libraries. The program's own libraries are left out on purpose: the module takes
# them from the program, which exports them, so engine state and run loop exist once.
find_package(Threads REQUIRED)  # seen by every module, wherever its libraries found it
set(QB_MODULE_DIR "${CMAKE_BINARY_DIR}/lib/quibblers")
# Installed: private, architecture-dependent files in the multiarch library folder (Debian);
# not a folder ldconfig looks at, so the package needs no ldconfig call.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(QB_MODULE_INSTALL_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/quibblers")
else()
  set(QB_MODULE_INSTALL_DIR "lib/quibblers")
endif()
set_property(GLOBAL PROPERTY QB_MODULES "")

function(qb_add_module name)
  set(target qb_module_${name})
  add_library(${target} MODULE)
  foreach(library IN LISTS ARGN)
    set_target_properties(${library} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${library}>)
    # Outside libraries only: imported targets (pkg-config, Threads) and plain names.
    get_target_property(links ${library} LINK_LIBRARIES)
    foreach(link IN LISTS links)
      if(TARGET ${link})
        get_target_property(imported ${link} IMPORTED)
        if(imported)
          target_link_libraries(${target} PRIVATE ${link})
        endif()
      elseif(link MATCHES "::")
        message(FATAL_ERROR "module ${name}: ${library} links ${link}, which is not visible here "
                            "(pkg_check_modules(... IMPORTED_TARGET GLOBAL ...))")
      elseif(link AND NOT link MATCHES "^\\$<")
        target_link_libraries(${target} PRIVATE ${link})
      endif()
    endforeach()
  endforeach()
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${name} LINKER_LANGUAGE CXX
                        LIBRARY_OUTPUT_DIRECTORY "${QB_MODULE_DIR}")
  # The program loads its modules by path, so building it builds them.
  add_dependencies(quibblers ${target})
  set_property(GLOBAL APPEND PROPERTY QB_MODULES ${target})
endfunction()
