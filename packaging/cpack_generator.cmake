# Read by CPack for each generator it runs: the installer is tarvic-<version>-win64-setup.exe
# beside the archive tarvic-<version>-win64.zip.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "tarvic-${CPACK_PACKAGE_VERSION}-win64-setup")
endif()
