# Install rules of the whole system, its pkg-config and CMake package files,
# the systemd units, the tmpfiles.d and udev entries, and the Debian package.
# Included once every component is configured; a part whose target was not
# built (no Qt, no Mono) is simply not installed.
#
# Installed layout (<libdir> is GNUInstallDirs' lib folder):
#   <prefix>/<libdir>/libQorCam.so.<version>  with libQorCam.so.<major>, libQorCam.so
#   <prefix>/<libdir>/qorcam/gentl/           the two GenTL producers (*.cti)
#   <prefix>/<libdir>/pkgconfig/qorcam.pc, <prefix>/<libdir>/cmake/QorCam/
#   <prefix>/<libdir>/cli/qorcam/             the .NET assembly
#   <prefix>/include/QorCam.h
#   <prefix>/sbin/                            the services QorGigEFilter, QorUSBDrv
#   <prefix>/bin/                             the tools, the viewer and the sample
#   <prefix>/share/qorcam/Driver/GigE/        the GigE service's package for QorGigEPref
#   <prefix>/share/applications/              the viewer's desktop entry
#   <prefix>/lib/systemd/{system,user}/, <prefix>/lib/{tmpfiles,sysusers}.d/, <prefix>/lib/udev/rules.d/
#   /etc/profile.d/qorcam-gentl.sh            GENICAM_GENTL64_PATH for GenTL consumers
#   /var/lib/qorcam/Korvashdrevali/QorCam/    the description folder
# Programs find the library through their run path ($ORIGIN/../<libdir>), the
# library finds the producers in qorcam/gentl beside itself, and the tools
# find the services in ../sbin beside their own folder (os::Paths::Program),
# so a staged tree (DESTDIR) works as well as the installed one.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QORCAM_INSTALL_GENTLDIR ${CMAKE_INSTALL_LIBDIR}/qorcam/gentl)
set(QORCAM_INSTALL_CLIDIR ${CMAKE_INSTALL_LIBDIR}/cli/qorcam)
set(QORCAM_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/QorCam)
set(QORCAM_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/qorcam)
# The system's folders: systemd and udev read <prefix>/lib (also /usr/local/lib).
set(QORCAM_INSTALL_UNITDIR lib/systemd/system CACHE STRING "Where the system units go (relative: under the prefix)")
set(QORCAM_INSTALL_USERUNITDIR lib/systemd/user CACHE STRING "Where the user units go (relative: under the prefix)")
set(QORCAM_INSTALL_TMPFILESDIR lib/tmpfiles.d CACHE STRING "Where the tmpfiles.d entry goes (relative: under the prefix)")
set(QORCAM_INSTALL_SYSUSERSDIR lib/sysusers.d CACHE STRING "Where the sysusers.d entry goes (relative: under the prefix)")
set(QORCAM_INSTALL_UDEVRULESDIR lib/udev/rules.d CACHE STRING "Where the udev rule goes (relative: under the prefix)")
# Login shells read /etc/profile.d only, whatever the prefix.
set(QORCAM_INSTALL_PROFILEDIR /etc/profile.d CACHE STRING "Where the GenTL search path file goes")
# Fixed by the library (os::Paths::Data), not by the prefix.
set(QORCAM_INSTALL_DESCRIPTIONDIR /var/lib/qorcam/Korvashdrevali/QorCam)

# The library: soname libQorCam.so.<major>, public header, package files.
set_target_properties(QorCam PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
# Looked for beside the library after its own folder; the build tree keeps
# every producer beside the library and never reaches this folder.
file(RELATIVE_PATH QORCAM_GENTL_FROM_LIBRARY ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}
  ${CMAKE_INSTALL_PREFIX}/${QORCAM_INSTALL_GENTLDIR})
target_compile_definitions(qorcam_library_core PRIVATE QORCAM_GENTL_SUBDIR="${QORCAM_GENTL_FROM_LIBRARY}")
target_include_directories(QorCam INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS QorCam EXPORT QorCamTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/include/QorCam.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Runtime)

install(EXPORT QorCamTargets NAMESPACE QorCam:: DESTINATION ${QORCAM_INSTALL_CMAKEDIR} COMPONENT Runtime)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QorCamConfig.cmake.in
  ${PROJECT_BINARY_DIR}/install/QorCamConfig.cmake INSTALL_DESTINATION ${QORCAM_INSTALL_CMAKEDIR}
  PATH_VARS QORCAM_INSTALL_GENTLDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/install/QorCamConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/install/QorCamConfig.cmake ${PROJECT_BINARY_DIR}/install/QorCamConfigVersion.cmake
  DESTINATION ${QORCAM_INSTALL_CMAKEDIR} COMPONENT Runtime)
# The .pc file takes its folders relative to its own prefix, so a moved or
# staged tree answers with its own paths (pkg-config --define-prefix).
file(RELATIVE_PATH QORCAM_PREFIX_FROM_PC /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/qorcam.pc.in ${PROJECT_BINARY_DIR}/install/qorcam.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/install/qorcam.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Runtime)

# The producers, in the folder GenTL consumers are pointed at.
foreach(producer QorGigEGenTL QorUSBGenTL)
  if(TARGET ${producer})
    install(TARGETS ${producer} LIBRARY DESTINATION ${QORCAM_INSTALL_GENTLDIR} COMPONENT Runtime)
  endif()
endforeach()

# Files that name installed paths are written at install time, for the prefix
# given then (cmake --install --prefix, or /usr for the package).
function(qorcam_install_configured template destination)
  get_filename_component(name ${template} NAME_WLE)
  install(CODE "
    set(QORCAM_SBINDIR_FULL \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}\")
    set(QORCAM_BINDIR_FULL \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(QORCAM_GENTL_FULL \"\${CMAKE_INSTALL_PREFIX}/${QORCAM_INSTALL_GENTLDIR}\")
    if(IS_ABSOLUTE \"${destination}\")
      set(folder \"\$ENV{DESTDIR}${destination}\")
    else()
      set(folder \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}\")
    endif()
    message(STATUS \"Installing: \${folder}/${name}\")
    file(READ \"${template}\" content)
    string(CONFIGURE \"\${content}\" content @ONLY)
    file(WRITE \"\${folder}/${name}\" \"\${content}\")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${folder}/${name}\")
  " COMPONENT Runtime)
endfunction()
qorcam_install_configured(${CMAKE_CURRENT_LIST_DIR}/install/qorcam-gentl.sh.in ${QORCAM_INSTALL_PROFILEDIR})

# Programs: the services in sbin, everything else in bin; each finds the
# library through its run path.
file(RELATIVE_PATH QORCAM_LIB_FROM_BIN ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
foreach(program QorGigEFilter QorUSBDrv)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT Runtime)
  endif()
endforeach()
foreach(program qorcam_sample QorCamViewer QorCamMonitor QorCamLog QorCamLogUser QorGigECPref QorGigEPref QorGigECtl)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${QORCAM_LIB_FROM_BIN}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
  endif()
endforeach()
if(TARGET QorCamViewer)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/install/QorCamViewer.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT Runtime)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/tools/driverselect/Driver/GigE/QorGigE.inf)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/driverselect/Driver/GigE/QorGigE.inf
    DESTINATION ${QORCAM_INSTALL_DATADIR}/Driver/GigE COMPONENT Runtime)
endif()
if(TARGET QorCamDotNet)
  install(FILES ${PROJECT_BINARY_DIR}/bin/QorCamDotNet.dll DESTINATION ${QORCAM_INSTALL_CLIDIR} COMPONENT Runtime)
endif()
install(DIRECTORY DESTINATION ${QORCAM_INSTALL_DESCRIPTIONDIR} COMPONENT Runtime)

# systemd units, the run folder, and the USB3 Vision devices.
foreach(unit QorGigE.service QorUSBDrv.service)
  qorcam_install_configured(${CMAKE_CURRENT_LIST_DIR}/install/${unit}.in ${QORCAM_INSTALL_UNITDIR})
endforeach()
if(TARGET QorCamMonitor)
  qorcam_install_configured(${CMAKE_CURRENT_LIST_DIR}/install/QorCamMonitor.service.in ${QORCAM_INSTALL_USERUNITDIR})
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/install/qorcam.conf DESTINATION ${QORCAM_INSTALL_TMPFILESDIR} COMPONENT Runtime)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/install/qorcam-sysusers.conf DESTINATION ${QORCAM_INSTALL_SYSUSERSDIR}
  RENAME qorcam.conf COMPONENT Runtime)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/install/69-qorcam-usb3vision.rules
  DESTINATION ${QORCAM_INSTALL_UDEVRULESDIR} COMPONENT Runtime)
# A real install (not a staged one) refreshes the loader's cache.
install(CODE "if(\"\$ENV{DESTDIR}\" STREQUAL \"\" AND EXISTS /sbin/ldconfig)
  execute_process(COMMAND /sbin/ldconfig)
endif()" COMPONENT Runtime)

# The Debian package: `cpack -G DEB` in the build folder.
set(CPACK_PACKAGE_NAME qorcam)
set(CPACK_PACKAGE_VENDOR "QorCam")
set(CPACK_PACKAGE_CONTACT "QorCam developers <qorcam@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Camera SDK for GigE Vision and USB3 Vision cameras")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beyond the linked libraries: the rig and tools run ip; the .NET assembly wants Mono.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "iproute2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mono-runtime, systemd, udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/install/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/install/debian/prerm
  ${CMAKE_CURRENT_LIST_DIR}/install/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
# Absolute destinations (/etc, /var) land inside the package, not on this machine.
set(CPACK_SET_DESTDIR ON)
include(CPack)
