# The Debian package: `cpack -G DEB` in the build folder (scripts/package.sh builds and makes it).
# It installs under /usr, the udev rule in /usr/lib/udev/rules.d, whatever prefix the build
# folder was configured with.

set(VANTREL_PACKAGE_MAINTAINER
    "Seed ab9a658b maintainers <maintainers@users.noreply.c-seed-ab9a658b.example>"
    CACHE STRING "The package's Maintainer field: name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel-pc)
set(CPACK_PACKAGE_VENDOR "Fenwright Ltd.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download the data of a digital tachograph")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "Vantrel PC copies the stored data of an EU digital tachograph's vehicle
unit, and of the driver card inserted in it, onto this computer over a
Vantrel PC USB download cable, and saves each download as a .DDD file for
the fleet's analysis software.
.
A small window with three buttons (All VU, Latest VU, Card) starts a
download; the command vantrel-download does the same from scripts, without
a display. The udev rule lets the user at the desktop use the cable.")

set(CPACK_DEBIAN_PACKAGE_NAME vantrel-pc)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VANTREL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${VANTREL_PROJECT_URL})
# The libraries (Qt, libzip, libc) from the programs themselves, through dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The scripts need only bash and coreutils, which every system has. udev applies the cable's
# rule; without it (a container) the dialout group still gives access.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS udev)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/data/debian/postinst
    ${PROJECT_SOURCE_DIR}/data/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Debian's copyright file and changelog, which every package carries (gzip -n: the same bytes
# from the same sources). The date honours SOURCE_DATE_EPOCH.
set(VANTREL_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
string(TIMESTAMP VANTREL_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/data/debian/changelog.in
               ${PROJECT_BINARY_DIR}/package/changelog.Debian @ONLY)
set(changelog ${PROJECT_BINARY_DIR}/package/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9nc ${PROJECT_BINARY_DIR}/package/changelog.Debian > ${changelog}
  DEPENDS ${PROJECT_BINARY_DIR}/package/changelog.Debian)
add_custom_target(vantrel_changelog ALL DEPENDS ${changelog})
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/vantrel-pc)
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright ${changelog} DESTINATION ${doc_dir})
# What lintian reports that does not apply to this package, each with its reason.
install(FILES ${PROJECT_SOURCE_DIR}/data/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME vantrel-pc)

include(CPack)
