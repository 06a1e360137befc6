# The Windows installer (NSIS) and a zip of the programs, both made by
# `cmake --build BUILD --target windows-packages`; makensis runs on Linux as on Windows.
# A script of our own rather than CPack's NSIS template: that one makes a 32-bit installer,
# whose uninstall key lands in the registry's 32-bit view on 64-bit Windows, writes no
# QuietUninstallString and brings pages and PATH editing these programs have no use for.
find_program(QVR_MAKENSIS makensis)

set(QVR_PACKAGE_NAME "qvr7130-${PROJECT_VERSION}-win64")
set(QVR_INSTALLER "${PROJECT_BINARY_DIR}/${QVR_PACKAGE_NAME}.exe")
set(QVR_ZIP "${PROJECT_BINARY_DIR}/${QVR_PACKAGE_NAME}.zip")
string(REPLACE "," "." QVR_FOUR_PART_VERSION "${QVR_RC_VERSION}")
set(QVR_WINDOW_EXE "$<TARGET_FILE:qvr7130>")
set(QVR_CTL_EXE "$<TARGET_FILE:qvr7130ctl>")

# The target files are only known at generation, hence two passes.
configure_file(cmake/qvr7130.nsi.in "${PROJECT_BINARY_DIR}/qvr7130.nsi.in" @ONLY)
file(GENERATE OUTPUT "${PROJECT_BINARY_DIR}/qvr7130.nsi"
  INPUT "${PROJECT_BINARY_DIR}/qvr7130.nsi.in")

if(QVR_MAKENSIS)
  add_custom_command(OUTPUT "${QVR_INSTALLER}"
    COMMAND "${QVR_MAKENSIS}" -V2 -NOCD "${PROJECT_BINARY_DIR}/qvr7130.nsi"
    DEPENDS qvr7130 qvr7130ctl "${PROJECT_BINARY_DIR}/qvr7130.nsi" "${PROJECT_SOURCE_DIR}/README.md"
    COMMENT "Installer ${QVR_PACKAGE_NAME}.exe"
    VERBATIM)
  set(_qvr_installer "${QVR_INSTALLER}")
else()
  message(STATUS "makensis not found (Debian: nsis): windows-packages makes the zip only")
endif()

# The files sit at the zip's top, as they would beside each other in one folder.
set(_qvr_zip_dir "${PROJECT_BINARY_DIR}/zip")
add_custom_command(OUTPUT "${QVR_ZIP}"
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${_qvr_zip_dir}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${_qvr_zip_dir}"
  COMMAND "${CMAKE_COMMAND}" -E copy "$<TARGET_FILE:qvr7130>" "$<TARGET_FILE:qvr7130ctl>"
    "${PROJECT_SOURCE_DIR}/README.md" "${_qvr_zip_dir}"
  COMMAND "${CMAKE_COMMAND}" -E chdir "${_qvr_zip_dir}" "${CMAKE_COMMAND}" -E tar cf "${QVR_ZIP}"
    --format=zip qvr7130.exe qvr7130ctl.exe README.md
  DEPENDS qvr7130 qvr7130ctl "${PROJECT_SOURCE_DIR}/README.md"
  COMMENT "Zip ${QVR_PACKAGE_NAME}.zip"
  VERBATIM)

add_custom_target(windows-packages DEPENDS ${_qvr_installer} "${QVR_ZIP}")
