# Install rules. The installed tree is relocatable: the program finds its resources in
# ../share/quibblers beside bin/, so bin and share are fixed names here.
# `cmake --install build --prefix P` lays out the tree; debian/ packages it (scripts/package).

set(QB_APP_ID "org.quibblers.Quibblers")
set(QB_LICENSE "MIT")
set(QB_HOMEPAGE "https://quibblers.org/")
set(pkg "${CMAKE_SOURCE_DIR}/packaging")
set(gen "${CMAKE_BINARY_DIR}/packaging")
file(MAKE_DIRECTORY "${gen}")

# The release date comes from the changelog's newest entry, which must be this version.
set(changelog_file "${CMAKE_SOURCE_DIR}/debian/changelog")
file(STRINGS "${changelog_file}" changelog)
list(GET changelog 0 top)
if(NOT top MATCHES "^quibblers \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "debian/changelog: the newest entry is not version ${PROJECT_VERSION}: ${top}")
endif()
foreach(line IN LISTS changelog)
  if(line MATCHES "^ -- .*>  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND months "${CMAKE_MATCH_2}" month)
    math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
    if(month LESS 10)
      set(month "0${month}")
    endif()
    set(QB_RELEASE_DATE "${CMAKE_MATCH_3}-${month}-${CMAKE_MATCH_1}")
    break()
  endif()
endforeach()
if(NOT QB_RELEASE_DATE)
  message(FATAL_ERROR "debian/changelog: no dated trailer line in the newest entry")
endif()
# The same date as seconds since 1970 (days from the civil date, proleptic Gregorian), for tools
# that stamp their output with SOURCE_DATE_EPOCH.
string(REGEX MATCH "^([0-9]+)-0?([0-9]+)-0?([0-9]+)$" ymd "${QB_RELEASE_DATE}")
set(y ${CMAKE_MATCH_1})
set(m ${CMAKE_MATCH_2})
set(d ${CMAKE_MATCH_3})
if(m LESS_EQUAL 2)
  math(EXPR y "${y} - 1")
  math(EXPR m "${m} + 9")
else()
  math(EXPR m "${m} - 3")
endif()
math(EXPR era "${y} / 400")
math(EXPR yoe "${y} - ${era} * 400")
math(EXPR doe "${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + (153 * ${m} + 2) / 5 + ${d} - 1")
math(EXPR QB_RELEASE_EPOCH "(${era} * 146097 + ${doe} - 719468) * 86400")

# The screenshot software centres show is docs/images/answer.png published on the homepage; its
# size is read from the PNG header so the metadata follows the picture.
file(READ "${CMAKE_SOURCE_DIR}/docs/images/answer.png" ihdr OFFSET 16 LIMIT 8 HEX)
string(SUBSTRING "${ihdr}" 0 8 w)
string(SUBSTRING "${ihdr}" 8 8 h)
math(EXPR QB_SCREENSHOT_WIDTH "0x${w}" OUTPUT_FORMAT DECIMAL)
math(EXPR QB_SCREENSHOT_HEIGHT "0x${h}" OUTPUT_FORMAT DECIMAL)
set(QB_SCREENSHOT_URL "${QB_HOMEPAGE}images/answer.png")
configure_file("${pkg}/${QB_APP_ID}.metainfo.xml.in" "${gen}/${QB_APP_ID}.metainfo.xml" @ONLY)

# Built from the programs themselves, so they list exactly the options the programs have.
find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)
# The Debian package installs the licence and the changelog itself (debhelper).
option(QB_INSTALL_DOC "Install the licence and the changelog into share/doc/quibblers" ON)
set(generated)
if(QB_INSTALL_DOC)
  add_custom_command(OUTPUT "${gen}/changelog.gz"
    COMMAND ${GZIP} -n -9 -c "${changelog_file}" > "${gen}/changelog.gz.tmp"
    COMMAND ${CMAKE_COMMAND} -E rename "${gen}/changelog.gz.tmp" "${gen}/changelog.gz"
    DEPENDS "${changelog_file}" VERBATIM)
  list(APPEND generated "${gen}/changelog.gz")
endif()
set(programs quibblers)
if(TARGET quibblers-collection-server)
  list(APPEND programs quibblers-collection-server)
endif()
foreach(program IN LISTS programs)
  add_custom_command(OUTPUT "${gen}/${program}.bash"
    COMMAND ${CMAKE_COMMAND} -E env COLUMNS=80
            "${pkg}/make-completion" "$<TARGET_FILE:${program}>" ${program} "${gen}/${program}.bash"
    DEPENDS ${program} "${pkg}/make-completion" VERBATIM)
  list(APPEND generated "${gen}/${program}.bash")
  if(HELP2MAN)
    # The page's date is the release's, so rebuilding the same version gives the same page; its
    # --help is read at 80 columns whatever the terminal building it.
    # Defaults under the home folder read "~/..." instead of the builder's home.
    # Debian installs manual pages compressed (gzip -9n: no name or time stamp in the header).
    add_custom_command(OUTPUT "${gen}/${program}.1.gz"
      COMMAND ${CMAKE_COMMAND} -E env --unset=XDG_DATA_HOME --unset=XDG_CONFIG_HOME "HOME=~"
              LC_ALL=C.UTF-8 COLUMNS=80 "SOURCE_DATE_EPOCH=${QB_RELEASE_EPOCH}"
              ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              --include "${pkg}/${program}.h2m" --output "${gen}/${program}.1"
              "$<TARGET_FILE:${program}>"
      COMMAND ${GZIP} -n -9 -c "${gen}/${program}.1" > "${gen}/${program}.1.gz.tmp"
      COMMAND ${CMAKE_COMMAND} -E rename "${gen}/${program}.1.gz.tmp" "${gen}/${program}.1.gz"
      DEPENDS ${program} "${pkg}/${program}.h2m" VERBATIM)
    list(APPEND generated "${gen}/${program}.1.gz")
  else()
    message(WARNING "help2man not found (scripts/install-deps installs it): no manual pages")
  endif()
endforeach()
add_custom_target(qb_packaging_files ALL DEPENDS ${generated})

install(TARGETS ${programs} RUNTIME DESTINATION bin)
# The program's modules, found from its own path as ../${QB_MODULE_INSTALL_DIR} (platform/Modules.h).
get_property(modules GLOBAL PROPERTY QB_MODULES)
install(TARGETS ${modules} LIBRARY DESTINATION ${QB_MODULE_INSTALL_DIR})
install(DIRECTORY "${CMAKE_SOURCE_DIR}/resources/" DESTINATION share/quibblers)
install(FILES "${pkg}/${QB_APP_ID}.desktop" DESTINATION share/applications)
install(FILES "${gen}/${QB_APP_ID}.metainfo.xml" DESTINATION share/metainfo)
install(FILES "${pkg}/icons/quibblers.svg" DESTINATION share/icons/hicolor/scalable/apps
        RENAME "${QB_APP_ID}.svg")
foreach(size 16 24 48 64 128 256 512)
  install(FILES "${pkg}/icons/quibblers-${size}.png" DESTINATION share/icons/hicolor/${size}x${size}/apps
          RENAME "${QB_APP_ID}.png")
endforeach()
foreach(program IN LISTS programs)
  install(FILES "${gen}/${program}.bash" DESTINATION share/bash-completion/completions RENAME ${program})
  if(HELP2MAN)
    install(FILES "${gen}/${program}.1.gz" DESTINATION share/man/man1)
  endif()
endforeach()
if(QB_INSTALL_DOC)
  install(FILES "${CMAKE_SOURCE_DIR}/debian/copyright" "${gen}/changelog.gz" DESTINATION share/doc/quibblers)
endif()
if(TARGET quibblers-collection-server)
  # The reverse-proxy site the collector's deployment notes describe.
  install(FILES "${pkg}/nginx/quibblers-collection-server.conf" DESTINATION share/doc/quibblers/examples)
endif()
