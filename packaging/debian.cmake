# The Debian package: cpack -G DEB in the build folder.

set(CHAPCAT_MAINTAINER "chapcat developers <chapcat@example.org>"
    CACHE STRING "Maintainer field of the Debian package: Name <address>")
set(CHAPCAT_AVFORMAT_PACKAGE ""
    CACHE STRING "Package the .deb recommends for reading media files (empty: from the headers)")

# chapcat dlopens libavformat rather than linking it, so shlibdeps cannot see it; the package
# recommends the runtime of the major version the headers name, the one the binary will load.
function(chapcat_avformat_runtime_package result)
  set(${result} "${CHAPCAT_AVFORMAT_PACKAGE}" PARENT_SCOPE)
  if(CHAPCAT_AVFORMAT_PACKAGE)
    return()
  endif()
  # FFmpeg 5.1 moved the major version into version_major.h.
  find_file(CHAPCAT_AVFORMAT_VERSION_HEADER NAMES libavformat/version_major.h
                                                  libavformat/version.h)
  if(CHAPCAT_AVFORMAT_VERSION_HEADER)
    file(STRINGS ${CHAPCAT_AVFORMAT_VERSION_HEADER} line
         REGEX "^#define LIBAVFORMAT_VERSION_MAJOR +[0-9]+")
    string(REGEX MATCH "[0-9]+$" major "${line}")
  endif()
  if(major)
    set(${result} libavformat${major} PARENT_SCOPE)
  else()
    message(WARNING "libavformat headers not found: the package recommends no libavformat "
                    "(apt-get install libavformat-dev, or set CHAPCAT_AVFORMAT_PACKAGE)")
  endif()
endfunction()

# Seconds since 1970 of a changelog date, "Mon, 07 Dec 2026 12:00:00 +0000" as Debian policy
# writes it; empty where it is not one. Worked out here, since GNU date -d is not everywhere.
function(chapcat_changelog_date_epoch date result)
  set(${result} "" PARENT_SCOPE)
  set(pattern "^[A-Za-z]+, +([0-9]+) ([A-Za-z]+) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+) ([-+])")
  if(NOT date MATCHES "${pattern}([0-9][0-9])([0-9][0-9])$")
    return()
  endif()
  set(day ${CMAKE_MATCH_1})
  set(year ${CMAKE_MATCH_3})
  set(zone "${CMAKE_MATCH_7}(${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
  set(clock "${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}")
  list(FIND CHAPCAT_MONTHS_FROM_MARCH ${CMAKE_MATCH_2} month)
  if(month LESS 0 OR year LESS 1970)
    return()
  endif()
  # Days since 1970-01-01, counting years from March so that a leap day ends its year.
  if(month GREATER 9)
    math(EXPR year "${year} - 1")
  endif()
  math(EXPR days "${year} * 365 + ${year} / 4 - ${year} / 100 + ${year} / 400
                  + (153 * ${month} + 2) / 5 + ${day} - 1 - 719468")
  math(EXPR epoch "${days} * 86400 + ${clock} - ${zone}")
  set(${result} ${epoch} PARENT_SCOPE)
endfunction()
set(CHAPCAT_MONTHS_FROM_MARCH Mar Apr May Jun Jul Aug Sep Oct Nov Dec Jan Feb)

# Files in the package carry the date of the last changelog entry, so that the same source
# always gives the same package; SOURCE_DATE_EPOCH, when set, still wins.
function(chapcat_changelog_epoch result)
  set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
  file(STRINGS ${changelog} trailer REGEX "^ -- .*>  " LIMIT_COUNT 1)
  string(REGEX REPLACE "^.*>  " "" date "${trailer}")
  chapcat_changelog_date_epoch("${date}" epoch)
  if(epoch STREQUAL "")
    message(WARNING "cannot read the date of the last entry in ${changelog}: the package's "
                    "files are dated when it is built, unless SOURCE_DATE_EPOCH is set")
  endif()
  set(${result} ${epoch} PARENT_SCOPE)
endfunction()

set(CPACK_PACKAGE_NAME chapcat)
set(CPACK_PACKAGE_CONTACT "${CHAPCAT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "join the chapter lists of a video's parts into one list")
set(CPACK_PACKAGE_DESCRIPTION [[
chapcat joins the chapter lists of the parts of a video into one list for
the whole video: chapter numbers continue from part to part, and each part's
times move to where that part starts, given by delays or by the parts' lengths.

It reads simple chapter files (CHAPTER01=00:00:00.000 and CHAPTER01NAME=
lines), Matroska chapters XML, FFmpeg metadata and the chapters of media
files, and writes the simple format, FFmpeg metadata or Matroska chapters XML.
It can stretch times for PAL-to-film and 3:2 pulldown conversions, and warns
where a muxer would object to the joined list.
]])
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
chapcat_avformat_runtime_package(CPACK_DEBIAN_PACKAGE_RECOMMENDS)
# The completion it ships is loaded by bash-completion.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
chapcat_changelog_epoch(CPACK_CHAPCAT_SOURCE_DATE_EPOCH)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack_project.cmake)
include(CPack)
