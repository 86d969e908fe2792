# SPDX-License-Identifier: Apache-2.0
# The Debian packages, made by `cpack --config build/release/CPackConfig.cmake`: the programs
# without Qt, their data, the daemon's units and configuration and the manual pages in
# quarn-explorer (install component "main"); the desktop program with its menu entry, icon and
# help in quarn-explorer-gui (component "gui"), so a server needs no Qt. CPack rather than a
# debian/ folder: the packages are made from the release tree the tests already built, with no
# second build, and dpkg-shlibdeps still computes the run-time dependencies from the binaries.
# libquarn0 and libquarn-dev (components "library", "library_dev") hold the engine as a shared
# library for other programs, with its header and pkg-config file; python3-quarn (component
# "python3_quarn") the Python module on it.
set(QUARN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging/deb)

# Every package carries its own copyright file and changelog, as Debian policy asks (a
# version without a Debian revision makes them native packages: changelog.gz).
set(QUARN_DEB_PACKAGES quarn-explorer quarn-explorer-gui libquarn0 libquarn-dev python3-quarn)
set(QUARN_DEB_COMPONENTS main gui library library_dev python3_quarn)
execute_process(COMMAND gzip -9n -c ${QUARN_PACKAGING_DIR}/changelog
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.gz)
foreach(package component IN ZIP_LISTS QUARN_DEB_PACKAGES QUARN_DEB_COMPONENTS)
  install(FILES ${QUARN_PACKAGING_DIR}/copyright ${CMAKE_BINARY_DIR}/changelog.gz
          DESTINATION share/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarn-explorer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quarn Explorer developers")
# Placeholders until the project has a mail address and a homepage of its own: the contact, the
# homepage, and the same two in packaging/deb (copyright, changelog).
set(CPACK_PACKAGE_CONTACT "Quarn Explorer developers <maintainers@quarn-explorer.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
# Its staging folders too stay in the build tree, wherever cpack is run from.
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
set(CPACK_COMPONENTS_ALL main gui library library_dev python3_quarn)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quarn-explorer.org/")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_MAIN_PACKAGE_NAME quarn-explorer)
set(CPACK_DEBIAN_MAIN_PACKAGE_RECOMMENDS unar)
# The postinst makes the daemon's user with adduser where systemd-sysusers is missing; the
# prerm and postrm stop and disable the daemon's units, and a purge takes their leftovers.
set(CPACK_DEBIAN_MAIN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_MAIN_PACKAGE_CONTROL_EXTRA
    ${QUARN_PACKAGING_DIR}/conffiles ${QUARN_PACKAGING_DIR}/postinst ${QUARN_PACKAGING_DIR}/prerm
    ${QUARN_PACKAGING_DIR}/postrm)
set(CPACK_COMPONENT_MAIN_DESCRIPTION
    "virus scanner for DOS and Windows 9x era files, disk images and archives
Quarn Explorer finds the viruses of the DOS and Windows 9x era: file
infectors in DOS EXE, COM and PE programs, boot-sector and master-boot-
record viruses and Word macro viruses, by signature and by heuristics. It
reads FAT floppy and hard-disk images and the archives of the era (ZIP, LZH,
ARJ, ARC, SZDD, CAB, 7z and more) without mounting anything.

This package holds quarnscan, the scanner for terminals and scripts;
quarndb, the signature database compiler; and quarnd, a daemon that answers
the ClamAV daemon's protocol, so clamdscan, Archivematica and other clients
can use it.")

set(CPACK_DEBIAN_GUI_PACKAGE_NAME quarn-explorer-gui)
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "quarn-explorer (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_GUI_DESCRIPTION
    "desktop virus scanner for DOS and Windows 9x era files (Qt)
Quarn Explorer finds the viruses of the DOS and Windows 9x era in programs,
boot sectors, Word documents, disk images and archives.

This package holds quarnexp, the desktop program: its window with the drive
tree and result list, the options, scheduler and report dialogs, its menu
entry, icon, manual and virus encyclopedia.")

# The library's package makes its shlibs file for packages built on it, and has ldconfig run
# by a trigger rather than by the scripts the packager would write.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libquarn0)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${QUARN_PACKAGING_DIR}/libquarn0/triggers
    ${QUARN_PACKAGING_DIR}/libquarn0/postinst ${QUARN_PACKAGING_DIR}/libquarn0/postrm)
# The databases the library loads by default are those of the programs' package.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "quarn-explorer (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "virus scanner for DOS and Windows 9x era files (shared library)
Quarn Explorer finds the viruses of the DOS and Windows 9x era in programs,
boot sectors, Word documents, disk images and archives.

This package holds libquarn, the scanning engine as a library with a C
interface: one engine loaded once and shared by any number of threads, scans
of paths, descriptors and buffers, each result handed to the caller as a
JSON event.")
set(CPACK_DEBIAN_LIBRARY_DEV_PACKAGE_NAME libquarn-dev)
set(CPACK_DEBIAN_LIBRARY_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBRARY_DEV_PACKAGE_DEPENDS "libquarn0 (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_LIBRARY_DEV_DESCRIPTION
    "virus scanner for DOS and Windows 9x era files (library development files)
Quarn Explorer finds the viruses of the DOS and Windows 9x era in programs,
boot sectors, Word documents, disk images and archives.

This package holds what programs built on libquarn need: the header
quarn/quarn.h, the library's link and its pkg-config file.")
set(CPACK_DEBIAN_PYTHON3_QUARN_PACKAGE_NAME python3-quarn)
set(CPACK_DEBIAN_PYTHON3_QUARN_PACKAGE_SECTION python)
# The extension is built for the python3 of this release; dask_scan needs python3-distributed.
math(EXPR QUARN_PYTHON_NEXT_MINOR "${Python3_VERSION_MINOR} + 1")
set(CPACK_DEBIAN_PYTHON3_QUARN_PACKAGE_DEPENDS
    "libquarn0 (= ${PROJECT_VERSION}), python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), python3 (<< ${Python3_VERSION_MAJOR}.${QUARN_PYTHON_NEXT_MINOR})")
set(CPACK_DEBIAN_PYTHON3_QUARN_PACKAGE_SUGGESTS "python3-distributed")
set(CPACK_DEBIAN_PYTHON3_QUARN_PACKAGE_CONTROL_EXTRA ${QUARN_PACKAGING_DIR}/python3-quarn/postinst
    ${QUARN_PACKAGING_DIR}/python3-quarn/prerm)
# dpkg-shlibdeps finds libquarn.so.0, which no installed package holds yet, in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_COMPONENT_PYTHON3_QUARN_DESCRIPTION
    "virus scanner for DOS and Windows 9x era files (Python module)
Quarn Explorer finds the viruses of the DOS and Windows 9x era in programs,
boot sectors, Word documents, disk images and archives.

This package holds the Python module quarn on libquarn: an engine loaded
once, scans of paths, bytes and descriptors returning their events as
dicts, with the interpreter's lock released while scanning; and
quarn.dask_scan, which spreads a collection's scan over a Dask cluster.")
include(CPack)
