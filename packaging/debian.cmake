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

# Files in the package carry the date of the last changelog entry, so that the same source
# always gives the same package; SOURCE_DATE_EPOCH, when set, still wins.
function(chapcat_changelog_epoch result)
  set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${changelog})
  file(STRINGS ${changelog} trailer REGEX "^ -- .*>  " LIMIT_COUNT 1)
  string(REGEX REPLACE "^.*>  " "" date "${trailer}")
  execute_process(COMMAND date -u -d "${date}" +%s OUTPUT_VARIABLE epoch
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "cannot read the date of the last entry in ${changelog}")
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
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
chapcat_changelog_epoch(CPACK_CHAPCAT_SOURCE_DATE_EPOCH)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack_project.cmake)
include(CPack)
