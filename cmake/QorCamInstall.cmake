# Install rules of the whole system, its pkg-config and CMake package files,
# the systemd units, the tmpfiles.d and udev entries, and the Debian package.
# Included once every component is configured; a part whose target was not
# built (no Qt, no Mono) is simply not installed.
#
# Installed layout (<libdir> is GNUInstallDirs' lib folder):
#   <prefix>/<libdir>/libQorCam.so.<version>  with libQorCam.so.<major>, libQorCam.so
#   <prefix>/<libdir>/qorcam/gentl/           the two GenTL producers (*.cti)
#   <prefix>/<libdir>/qorcam/                 QorGigEPref's window module
#   <prefix>/<libdir>/pkgconfig/qorcam.pc, <prefix>/<libdir>/cmake/QorCam/
#   <prefix>/<libdir>/cli/qorcam/             the .NET assembly with its .config (pkgconfig/qorcam-cli.pc)
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
set(QORCAM_INSTALL_LIBEXECDIR ${CMAKE_INSTALL_LIBDIR}/qorcam)
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
install(FILES ${PROJECT_SOURCE_DIR}/include/QorCam.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)

install(EXPORT QorCamTargets NAMESPACE QorCam:: DESTINATION ${QORCAM_INSTALL_CMAKEDIR} COMPONENT Development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QorCamConfig.cmake.in
  ${PROJECT_BINARY_DIR}/install/QorCamConfig.cmake INSTALL_DESTINATION ${QORCAM_INSTALL_CMAKEDIR}
  PATH_VARS QORCAM_INSTALL_GENTLDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/install/QorCamConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/install/QorCamConfig.cmake ${PROJECT_BINARY_DIR}/install/QorCamConfigVersion.cmake
  DESTINATION ${QORCAM_INSTALL_CMAKEDIR} COMPONENT Development)

# The producers, in the folder GenTL consumers are pointed at.
foreach(producer QorGigEGenTL QorUSBGenTL)
  if(TARGET ${producer})
    install(TARGETS ${producer} LIBRARY DESTINATION ${QORCAM_INSTALL_GENTLDIR} COMPONENT Runtime)
  endif()
endforeach()

# Files that name installed paths are written at install time, for the prefix
# given then (cmake --install --prefix, or /usr for the package).
function(qorcam_install_configured template destination component)
  get_filename_component(name ${template} NAME_WLE)
  install(CODE "
    set(PROJECT_VERSION ${PROJECT_VERSION})
    set(QORCAM_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(QORCAM_LIBDIR ${CMAKE_INSTALL_LIBDIR})
    set(QORCAM_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
    set(QORCAM_GENTLDIR ${QORCAM_INSTALL_GENTLDIR})
    set(QORCAM_CLIDIR ${QORCAM_INSTALL_CLIDIR})
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
  " COMPONENT ${component})
endfunction()
qorcam_install_configured(${CMAKE_CURRENT_LIST_DIR}/install/qorcam-gentl.sh.in ${QORCAM_INSTALL_PROFILEDIR} Runtime)
# The .pc file names the installed folders; a staged or moved tree answers
# with its own through pkg-config --define-prefix.
qorcam_install_configured(${CMAKE_CURRENT_LIST_DIR}/install/qorcam.pc.in ${CMAKE_INSTALL_LIBDIR}/pkgconfig Development)

# Programs: the services in sbin, everything else in bin; each finds the
# library through its run path. The programs with windows (Qt) go to the
# tools package, so a headless machine's service package needs no Qt.
file(RELATIVE_PATH QORCAM_LIB_FROM_BIN ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
foreach(program QorGigEFilter QorUSBDrv)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT Runtime)
  endif()
endforeach()
foreach(program qorcam_sample QorGigEPref QorGigECtl QorCamLogUser QorCamViewer QorCamMonitor QorCamLog QorGigECPref)
  if(TARGET ${program})
    set(component Runtime)
    if(program MATCHES "^(QorCamViewer|QorCamMonitor|QorCamLog|QorGigECPref)$")
      set(component Tools)
    endif()
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/${QORCAM_LIB_FROM_BIN}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  endif()
endforeach()
# QorGigEPref's window, loaded where there is a display.
file(RELATIVE_PATH QORCAM_MODULE_FROM_BIN ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
  ${CMAKE_INSTALL_PREFIX}/${QORCAM_INSTALL_LIBEXECDIR})
if(TARGET QorGigEPref)
  target_compile_definitions(QorGigEPref PRIVATE QORCAM_PREF_MODULE_FROM_BIN="${QORCAM_MODULE_FROM_BIN}")
endif()
if(TARGET QorGigEPrefWindow)
  install(TARGETS QorGigEPrefWindow LIBRARY DESTINATION ${QORCAM_INSTALL_LIBEXECDIR} COMPONENT Tools)
endif()
if(TARGET QorCamViewer)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/install/QorCamViewer.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT Tools)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/tools/driverselect/Driver/GigE/QorGigE.inf)
  install(FILES ${PROJECT_SOURCE_DIR}/tools/driverselect/Driver/GigE/QorGigE.inf
    DESTINATION ${QORCAM_INSTALL_DATADIR}/Driver/GigE COMPONENT Runtime)
endif()
# The assembly, its map of the native library to the library's soname (so
# the runtime package alone serves it), and a .pc file for mcs -pkg:.
if(TARGET QorCamDotNet)
  file(WRITE ${PROJECT_BINARY_DIR}/install/QorCamDotNet.dll.config
    "<configuration>\n  <dllmap dll=\"QorCam\" target=\"libQorCam.so.${PROJECT_VERSION_MAJOR}\"/>\n</configuration>\n")
  install(FILES ${PROJECT_BINARY_DIR}/bin/QorCamDotNet.dll ${PROJECT_BINARY_DIR}/install/QorCamDotNet.dll.config
    DESTINATION ${QORCAM_INSTALL_CLIDIR} COMPONENT DotNet)
  qorcam_install_configured(${CMAKE_CURRENT_LIST_DIR}/install/qorcam-cli.pc.in ${CMAKE_INSTALL_LIBDIR}/pkgconfig DotNet)
endif()
install(DIRECTORY DESTINATION ${QORCAM_INSTALL_DESCRIPTIONDIR} COMPONENT Runtime)

# systemd units, the run folder, and the USB3 Vision devices.
foreach(unit QorGigE.service QorUSBDrv.service)
  qorcam_install_configured(${CMAKE_CURRENT_LIST_DIR}/install/${unit}.in ${QORCAM_INSTALL_UNITDIR} Runtime)
endforeach()
if(TARGET QorCamMonitor)
  qorcam_install_configured(${CMAKE_CURRENT_LIST_DIR}/install/QorCamMonitor.service.in ${QORCAM_INSTALL_USERUNITDIR} Tools)
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

# The Debian packages (`cpack -G DEB` in the build folder), split as Debian
# splits a library and its tools:
#   qorcam        the library, the producers, the services with their units
#                 and the command-line tools (no Qt, no Mono)
#   qorcam-dev    the header, the pkg-config and CMake files (the link
#                 libQorCam.so stays with the library: the programs load
#                 the library by that name)
#   qorcam-tools  the viewer and the tools with windows (Qt)
#   qorcam-cli    the .NET assembly (Mono)
# Each holds its copyright and changelog in /usr/share/doc/<package>.
set(QORCAM_DEB_MAIL qorcam@example.org)
set(QORCAM_DEB_PACKAGES Runtime qorcam Development qorcam-dev Tools qorcam-tools DotNet qorcam-cli)
# The build's date (SOURCE_DATE_EPOCH where set).
string(TIMESTAMP QORCAM_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
while(QORCAM_DEB_PACKAGES)
  list(POP_FRONT QORCAM_DEB_PACKAGES component package)
  set(doc ${PROJECT_BINARY_DIR}/install/doc/${package})
  file(MAKE_DIRECTORY ${doc})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/install/debian/copyright ${doc}/copyright COPYONLY)
  file(WRITE ${doc}/changelog
    "${package} (${PROJECT_VERSION}) stable; urgency=medium\n\n"
    "  * Release ${PROJECT_VERSION}.\n\n"
    " -- QorCam developers <${QORCAM_DEB_MAIL}>  ${QORCAM_DEB_DATE}\n")
  execute_process(COMMAND gzip -9nf ${doc}/changelog)
  install(FILES ${doc}/copyright ${doc}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
    COMPONENT ${component})
endwhile()

set(CPACK_PACKAGE_NAME qorcam)
set(CPACK_PACKAGE_VENDOR "QorCam")
set(CPACK_PACKAGE_CONTACT "QorCam developers <${QORCAM_DEB_MAIL}>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Camera SDK for GigE Vision and USB3 Vision cameras")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
# Absolute destinations (/etc, /var) land inside the package, not on this machine.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development)
if(TARGET QorCamViewer OR TARGET QorGigEPrefWindow OR TARGET QorCamMonitor)
  list(APPEND CPACK_COMPONENTS_ALL Tools)
endif()
if(TARGET QorCamDotNet)
  list(APPEND CPACK_COMPONENTS_ALL DotNet)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The tools link the library of the qorcam package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${PROJECT_BINARY_DIR}/_CPack_Packages/Linux/DEB/qorcam-${PROJECT_VERSION}-Linux/Runtime/usr/${CMAKE_INSTALL_LIBDIR})
set(qorcam_same "qorcam (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME qorcam)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# Beyond the linked libraries: the tools run ip.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "iproute2")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_RECOMMENDS "systemd, udev")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/install/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/install/debian/prerm
  ${CMAKE_CURRENT_LIST_DIR}/install/debian/postrm ${CMAKE_CURRENT_LIST_DIR}/install/debian/conffiles
  ${CMAKE_CURRENT_LIST_DIR}/install/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY} (library, services)
The camera library libQorCam.so for GigE Vision and USB3 Vision
machine-vision cameras, its two GenTL producers, the GigE network service
and the USB3 Vision service with their systemd units, and the
command-line tools (QorGigEPref, QorGigECtl, QorCamLogUser, the sample).")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME qorcam-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${qorcam_same}")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "Camera SDK for GigE Vision and USB3 Vision cameras (development files)
The header QorCam.h and the pkg-config (qorcam)
and CMake (find_package(QorCam)) files to build programs with the QorCam
camera library.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME qorcam-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${qorcam_same}")
set(CPACK_DEBIAN_TOOLS_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/install/debian/tools/postinst ${CMAKE_CURRENT_LIST_DIR}/install/debian/tools/prerm
  ${CMAKE_CURRENT_LIST_DIR}/install/debian/tools/postrm)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "Camera SDK for GigE Vision and USB3 Vision cameras (viewer and tools)
The viewer QorCamViewer (live images, features, recording), the device
monitor QorCamMonitor (a user service), the trace log QorCamLog, the GigE
camera configuration QorGigECPref and the window of QorGigEPref.")

set(CPACK_DEBIAN_DOTNET_PACKAGE_NAME qorcam-cli)
set(CPACK_DEBIAN_DOTNET_PACKAGE_SECTION cli-mono)
set(CPACK_DEBIAN_DOTNET_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DOTNET_PACKAGE_DEPENDS "${qorcam_same}, mono-runtime")
set(CPACK_DEBIAN_DOTNET_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DOTNET_DESCRIPTION "Camera SDK for GigE Vision and USB3 Vision cameras (.NET binding)
The assembly QorCamDotNet.dll for Mono programs, with the pkg-config file
qorcam-cli (mcs -pkg:qorcam-cli).")
include(CPack)
