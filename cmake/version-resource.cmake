# The maker's name, shown in each .exe's properties and in Windows' list of installed programs.
set(QVR_COMPANY "QVR Instruments")
set(QVR_COPYRIGHT "2026 ${QVR_COMPANY}")

# Windows wants four numbers; "1.09" is 1,9,0,0.
math(EXPR _qvr_major "${PROJECT_VERSION_MAJOR}")
math(EXPR _qvr_minor "${PROJECT_VERSION_MINOR}")
set(QVR_RC_VERSION "${_qvr_major},${_qvr_minor},0,0")

# Gives `target` a VERSIONINFO resource with the project's version and `description`.
function(qvr_version_resource target description)
  set(QVR_RC_NAME "${target}")
  set(QVR_RC_DESCRIPTION "${description}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
