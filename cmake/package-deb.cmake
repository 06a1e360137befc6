# The Debian package: `cpack -G DEB` in a build directory makes qvr7130_<version>_<arch>.deb
# of everything `cmake --install` puts under /usr, with what a desktop and Debian's tools expect
# beside the programs: desktop entry, icons, AppStream metainfo, manual pages, copyright and
# changelog.

# The date of the release that project(VERSION) names; the changelog and the metainfo carry it.
set(QVR_RELEASE_DATE 2026-12-09)
set(QVR_RELEASE_DATE_RFC2822 "Wed, 09 Dec 2026 00:00:00 +0000")
set(QVR_APP_ID org.qvr7130.qvr7130)

set(CPACK_PACKAGE_NAME qvr7130)
set(CPACK_PACKAGE_CONTACT "The QVR-7130 utility authors <maintainers@qvr7130.org>")
set(CPACK_PACKAGE_VENDOR "The QVR-7130 utility authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "utility for QVR-7130 GPS-disciplined clock sources")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# lintian wants root-owned control files with the modes dpkg-deb would give them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# What debhelper would add for the sysusers file, the udev rule and the unit: the group made at
# install, the rule and unit reloaded, the exporter left disabled, and all of it gone at purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/deb/postinst
  ${PROJECT_SOURCE_DIR}/packaging/deb/prerm ${PROJECT_SOURCE_DIR}/packaging/deb/postrm)
# The extended description; CPack puts the summary above it as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "The QVR-7130 is a GPS-disciplined clock source on USB HID. This package holds
a window that lists the attached devices, reads their configuration back,
sends setting changes and shows the receiver's status, time, position and
satellite signals; qvr7130ctl, which does the same from the command line; and
qvr7130_exporter, which serves every attached device to Prometheus, with a
systemd unit (not enabled) and alert rules.")

set(deb_files ${CMAKE_BINARY_DIR}/deb-files)
file(MAKE_DIRECTORY ${deb_files})
set(deb_generated)

# Manual pages and changelog go in compressed, as Debian policy asks; -n keeps the archive
# free of the build's time so that two builds give the same bytes.
find_program(QVR_GZIP gzip REQUIRED)
function(qvr_gzip_configured template output)
  get_filename_component(name ${output} NAME_WLE)
  configure_file(${template} ${deb_files}/${name} @ONLY)
  add_custom_command(OUTPUT ${output}
    COMMAND ${QVR_GZIP} -9nc ${deb_files}/${name} > ${output}
    DEPENDS ${deb_files}/${name} ${template}
    VERBATIM)
  set(deb_generated ${deb_generated} ${output} PARENT_SCOPE)
endfunction()

set(programs qvr7130ctl qvr7130_exporter)
if(QVR_BUILD_QT)
  list(APPEND programs qvr7130)
endif()
foreach(program IN LISTS programs)
  qvr_gzip_configured(${PROJECT_SOURCE_DIR}/packaging/man/${program}.1.in
    ${deb_files}/${program}.1.gz)
  install(FILES ${deb_files}/${program}.1.gz DESTINATION share/man/man1)
endforeach()

qvr_gzip_configured(${PROJECT_SOURCE_DIR}/packaging/deb/changelog.in ${deb_files}/changelog.gz)
# The JSON schema is what `qvr7130ctl list --help` and `status --help` send the reader to.
install(FILES ${deb_files}/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/deb/copyright
  ${PROJECT_SOURCE_DIR}/docs/qvr7130ctl-json.md DESTINATION share/doc/qvr7130)

if(QVR_BUILD_QT)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/${QVR_APP_ID}.desktop
    DESTINATION share/applications)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${QVR_APP_ID}.metainfo.xml.in
    ${deb_files}/${QVR_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${deb_files}/${QVR_APP_ID}.metainfo.xml DESTINATION share/metainfo)

  set(icon_svg ${PROJECT_SOURCE_DIR}/packaging/icons/qvr7130.svg)
  install(FILES ${icon_svg} DESTINATION share/icons/hicolor/scalable/apps
    RENAME ${QVR_APP_ID}.svg)
  # The bitmaps are drawn from the SVG at build time, so that the drawing has one source and
  # no picture in the tree can fall behind it. Without rsvg-convert only the SVG goes in.
  find_program(QVR_RSVG_CONVERT rsvg-convert)
  if(QVR_RSVG_CONVERT)
    foreach(size 16 32 48 64 128 256)
      set(png ${deb_files}/icons/${size}x${size}/${QVR_APP_ID}.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${deb_files}/icons/${size}x${size}
        COMMAND ${QVR_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${icon_svg}
        DEPENDS ${icon_svg}
        VERBATIM)
      list(APPEND deb_generated ${png})
      install(FILES ${png} DESTINATION share/icons/hicolor/${size}x${size}/apps)
    endforeach()
  else()
    message(STATUS "rsvg-convert not found (librsvg2-bin): the package gets the SVG icon only")
  endif()
endif()

add_custom_target(qvr_deb_files ALL DEPENDS ${deb_generated})

include(CPack)
