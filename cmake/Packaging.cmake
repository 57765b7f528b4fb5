# Everything `cmake --install` puts beside the programs (desktop entry, icons, AppStream metadata,
# manual pages, the Debian documentation files), and the two Debian packages CPack builds from it:
#   tonvale         the program, its help, its desktop integration;
#   tonvale-survey  the survey server and its systemd unit.
# Build the packages with scripts/package.sh (configured for /usr).
set(TV_PKG_SOURCE ${CMAKE_SOURCE_DIR}/packaging)
set(TV_PKG_BINARY ${CMAKE_BINARY_DIR}/packaging)
set(TONVALE_APP_ID "org.tonvale.Tonvale")

# The release (version and date) comes from the top entry of the Debian changelog, so the packages,
# the AppStream release and the manual pages cannot disagree. The entry must match the project.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TV_PKG_SOURCE}/changelog)
file(STRINGS ${TV_PKG_SOURCE}/changelog TV_CHANGELOG_HEAD LIMIT_COUNT 1)
string(REGEX MATCH "^tonvale \\(([^)]+)\\)" _match "${TV_CHANGELOG_HEAD}")
set(TONVALE_RELEASE_VERSION "${CMAKE_MATCH_1}")
if(NOT TONVALE_RELEASE_VERSION STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog begins with version '${TONVALE_RELEASE_VERSION}', the "
                      "project is ${PROJECT_VERSION}: add a changelog entry for this version.")
endif()
file(STRINGS ${TV_PKG_SOURCE}/changelog TV_CHANGELOG_TRAILERS REGEX "^ -- ")
list(GET TV_CHANGELOG_TRAILERS 0 _trailer)
if(NOT _trailer MATCHES "  [A-Z][a-z][a-z], ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: no date in the first entry's trailer: '${_trailer}'")
endif()
set(_day ${CMAKE_MATCH_1})
set(_year ${CMAKE_MATCH_3})
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months ${CMAKE_MATCH_2} _month)
math(EXPR _month "${_month} + 1")
string(LENGTH "${_day}" _len)
if(_len EQUAL 1)
  set(_day "0${_day}")
endif()
if(_month LESS 10)
  set(_month "0${_month}")
endif()
set(TONVALE_RELEASE_DATE "${_year}-${_month}-${_day}")

# Debian wants the changelog and the manual pages compressed, reproducibly (no name, no time stamp).
find_program(GZIP_EXECUTABLE gzip REQUIRED)
function(tv_gzip input output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${input} > ${output}
    DEPENDS ${input}
    VERBATIM)
endfunction()

file(MAKE_DIRECTORY ${TV_PKG_BINARY})
tv_gzip(${TV_PKG_SOURCE}/changelog ${TV_PKG_BINARY}/changelog.gz)
set(TV_PKG_OUTPUTS ${TV_PKG_BINARY}/changelog.gz)

set(TV_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc)

# Each package holds exactly its component. The programs' folders install their own files for a
# plain `cmake --install`; they are named here once more with their package's component, so the
# packages never depend on which component another folder chose (a file installed twice to the
# same place is simply up to date the second time).

# --- the program ---------------------------------------------------------------------------------
if(TARGET tonvale)
  install(TARGETS tonvale RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tonvale)
  if(TONVALE_HELP_FILE)
    install(FILES ${TONVALE_HELP_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/tonvale COMPONENT tonvale)
  else()
    message(WARNING "No compiled help file (TONVALE_HELP_FILE): the package will have no help")
  endif()
  set(TONVALE_DATA_DIR "${CMAKE_INSTALL_FULL_DATADIR}/tonvale")
  configure_file(${TV_PKG_SOURCE}/tonvale.1.in ${TV_PKG_BINARY}/tonvale.1 @ONLY)
  tv_gzip(${TV_PKG_BINARY}/tonvale.1 ${TV_PKG_BINARY}/tonvale.1.gz)
  configure_file(${TV_PKG_SOURCE}/${TONVALE_APP_ID}.metainfo.xml.in
                 ${TV_PKG_BINARY}/${TONVALE_APP_ID}.metainfo.xml @ONLY)
  list(APPEND TV_PKG_OUTPUTS ${TV_PKG_BINARY}/tonvale.1.gz)

  install(FILES ${TV_PKG_SOURCE}/${TONVALE_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tonvale)
  install(FILES ${TV_PKG_BINARY}/${TONVALE_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT tonvale)
  install(FILES ${TV_PKG_BINARY}/tonvale.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tonvale)
  install(FILES ${TV_PKG_SOURCE}/copyright ${TV_PKG_BINARY}/changelog.gz
          DESTINATION ${TV_DOC_DIR}/tonvale COMPONENT tonvale)

  # The icon: the SVG as drawn, and the fixed sizes the desktop's menus ask for, rendered from it.
  set(TV_ICON_SVG ${CMAKE_SOURCE_DIR}/res/tonvale.svg)
  install(FILES ${TV_ICON_SVG}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT tonvale)
  find_program(RSVG_CONVERT rsvg-convert)
  if(RSVG_CONVERT)
    foreach(size 16 32 48 128)
      set(png ${TV_PKG_BINARY}/icons/${size}x${size}/tonvale.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${TV_PKG_BINARY}/icons/${size}x${size}
        COMMAND ${RSVG_CONVERT} --width=${size} --height=${size} --output=${png} ${TV_ICON_SVG}
        DEPENDS ${TV_ICON_SVG}
        COMMENT "Rendering the ${size} px icon"
        VERBATIM)
      list(APPEND TV_PKG_OUTPUTS ${png})
      install(FILES ${png}
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT tonvale)
    endforeach()
  else()
    message(WARNING "rsvg-convert (librsvg2-bin) not found: only the SVG icon is installed")
  endif()
endif()

# --- the survey server ---------------------------------------------------------------------------
if(TARGET tonvale-survey)
  # server/ installs the program and its systemd unit in this component itself. The service reads
  # its extra options (the admin token) from here; the administrator's edits survive upgrades.
  install(FILES ${TV_PKG_SOURCE}/tonvale-survey/default RENAME tonvale-survey
          DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/default COMPONENT tonvale-survey)
  file(WRITE ${TV_PKG_BINARY}/tonvale-survey/conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/default/tonvale-survey\n")
  configure_file(${TV_PKG_SOURCE}/tonvale-survey.8.in ${TV_PKG_BINARY}/tonvale-survey.8 @ONLY)
  tv_gzip(${TV_PKG_BINARY}/tonvale-survey.8 ${TV_PKG_BINARY}/tonvale-survey.8.gz)
  list(APPEND TV_PKG_OUTPUTS ${TV_PKG_BINARY}/tonvale-survey.8.gz)
  install(FILES ${TV_PKG_BINARY}/tonvale-survey.8.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT tonvale-survey)
  install(FILES ${TV_PKG_SOURCE}/copyright ${TV_PKG_BINARY}/changelog.gz
          DESTINATION ${TV_DOC_DIR}/tonvale-survey COMPONENT tonvale-survey)
endif()

add_custom_target(tv_packaging_files ALL DEPENDS ${TV_PKG_OUTPUTS})

# --- Debian packages -----------------------------------------------------------------------------
set(TONVALE_PACKAGE_MAINTAINER "The Tonvale developers <maintainers@tonvale.org>"
    CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tonvale)
set(CPACK_PACKAGE_VENDOR "The Tonvale developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TONVALE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# Stripped as Debian strips its own binaries (plain `strip` leaves sections lintian reports).
set(CPACK_PRE_BUILD_SCRIPTS ${TV_PKG_SOURCE}/strip-binaries.cmake)
# Directories in the packages get 755 whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SOURCE tonvale)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_COMPONENTS_ALL tonvale)
set(CPACK_DEBIAN_TONVALE_PACKAGE_NAME tonvale)
set(CPACK_DEBIAN_TONVALE_PACKAGE_SECTION sound)
# What the binary cannot show: the help reader, which it loads at run time; the font of the Japanese
# texts; the browser launcher of Show Result. Sound reaches the desktop's sound server through
# ALSA's default device, which needs the server's ALSA plugin.
set(CPACK_DEBIAN_TONVALE_PACKAGE_DEPENDS "libchm1, fonts-ipafont-gothic, xdg-utils")
set(CPACK_DEBIAN_TONVALE_PACKAGE_RECOMMENDS "libasound2-plugins | pipewire-alsa")
set(CPACK_DEBIAN_TONVALE_DESCRIPTION
"hearing test through the computer's sound card
Tonvale plays every tone itself and asks what you heard. It finds the
frequency up to which the sound card plays a clean tone, the highest and the
lowest frequency you hear, and for eight octave bands the smallest pitch
difference (in cents) you can tell. The results are kept in result.dat in
the working directory and may be sent, with a short optional questionnaire,
to a survey server (see the tonvale-survey package).")

if(TARGET tonvale-survey)
  list(APPEND CPACK_COMPONENTS_ALL tonvale-survey)
  set(CPACK_DEBIAN_TONVALE-SURVEY_PACKAGE_NAME tonvale-survey)
  set(CPACK_DEBIAN_TONVALE-SURVEY_PACKAGE_SECTION web)
  # The maintainer scripts create the service's system user with adduser.
  set(CPACK_DEBIAN_TONVALE-SURVEY_PACKAGE_DEPENDS "adduser")
  set(CPACK_DEBIAN_TONVALE-SURVEY_PACKAGE_CONTROL_EXTRA
      ${TV_PKG_BINARY}/tonvale-survey/conffiles
      ${TV_PKG_SOURCE}/tonvale-survey/postinst
      ${TV_PKG_SOURCE}/tonvale-survey/prerm
      ${TV_PKG_SOURCE}/tonvale-survey/postrm)
  set(CPACK_DEBIAN_TONVALE-SURVEY_DESCRIPTION
"survey server for Tonvale's questionnaire
tonvale-survey collects the results and questionnaires that Tonvale sends,
stores them durably in SQLite, and shows a results page with charts of the
whole group (groups of fewer than five people are left out). A researcher
can export all submissions as CSV with an admin token.

The package installs a systemd unit that runs the server on port 80 as an
unprivileged system user; it does not start the service by itself.")
endif()

include(CPack)
