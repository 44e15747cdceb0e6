# Read by cpack: dates the package's files by the last changelog entry unless the caller
# chose a SOURCE_DATE_EPOCH.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND CPACK_CHAPCAT_SOURCE_DATE_EPOCH)
  set(ENV{SOURCE_DATE_EPOCH} ${CPACK_CHAPCAT_SOURCE_DATE_EPOCH})
endif()
