# SPDX-License-Identifier: GPL-3.0-or-later
# Installing and packaging. `cmake --install` lays the program out the Debian
# way; `make package` (CPack) wraps that same layout into a .deb. The version is
# the project's own (project() in CMakeLists.txt); nothing here compiles anything.
#
#   <prefix>/bin/allstats
#   <prefix>/share/allstats/{hooks,pic}/        found relative to bin/ (foundation/places.cpp)
#   <prefix>/share/applications/allstats.desktop
#   <prefix>/share/icons/hicolor/128x128/apps/allstats.png
#   <prefix>/share/man/man1/allstats.1.gz       written from README.md at build time
#   <prefix>/share/doc/allstats/                copyright, changelog, README
#   <prefix>/share/allstats/examples/county.conf  a scheduled pack's configuration, not in use
#   <prefix>/lib/systemd/system/allstats-pack@.{service,timer}   the scheduled packs
# The package's maintainer scripts (packaging/postinst, prerm, postrm) add the
# system user allstats the packs run as and the folder /etc/allstats/packs.d.

include(GNUInstallDirs)
find_program(PERL_EXECUTABLE perl REQUIRED)
find_program(GZIP_EXECUTABLE gzip REQUIRED)

set(ALLSTATS_MAINTAINER "allstats developers <allstats@example.org>"
    CACHE STRING "Maintainer named in the Debian package")
# Honours SOURCE_DATE_EPOCH, so a rebuild of the same tree gives the same files.
string(TIMESTAMP ALLSTATS_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP ALLSTATS_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

# The manual page comes from the README's command-line and file sections, so the
# two say the same whatever options are added.
set(ALLSTATS_MAN ${CMAKE_CURRENT_BINARY_DIR}/allstats.1)
add_custom_command(OUTPUT ${ALLSTATS_MAN} ${ALLSTATS_MAN}.gz
    COMMAND ${PERL_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/scripts/man-page.pl
        ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${PROJECT_VERSION} ${ALLSTATS_MAN_DATE} ${ALLSTATS_MAN}
    COMMAND ${GZIP_EXECUTABLE} -9nkf ${ALLSTATS_MAN}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_SOURCE_DIR}/scripts/man-page.pl
    COMMENT "Writing the manual page allstats.1 from README.md"
    VERBATIM)

set(ALLSTATS_DOC ${CMAKE_CURRENT_BINARY_DIR}/doc)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog.in ${ALLSTATS_DOC}/changelog @ONLY)
add_custom_command(OUTPUT ${ALLSTATS_DOC}/changelog.gz ${ALLSTATS_DOC}/README.md.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${ALLSTATS_DOC}/README.md
    COMMAND ${GZIP_EXECUTABLE} -9nkf ${ALLSTATS_DOC}/changelog ${ALLSTATS_DOC}/README.md
    DEPENDS ${ALLSTATS_DOC}/changelog ${CMAKE_CURRENT_SOURCE_DIR}/README.md
    VERBATIM)
add_custom_target(allstats_docs ALL DEPENDS ${ALLSTATS_MAN}.gz ${ALLSTATS_DOC}/changelog.gz ${ALLSTATS_DOC}/README.md.gz)

install(TARGETS allstats RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY pic hooks DESTINATION ${CMAKE_INSTALL_DATADIR}/allstats)
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/translations)
    install(DIRECTORY translations DESTINATION ${CMAKE_INSTALL_DATADIR}/allstats)
endif()
install(FILES packaging/allstats.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES app/ui/icons/allstats.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
install(FILES ${ALLSTATS_MAN}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES packaging/copyright ${ALLSTATS_DOC}/changelog.gz ${ALLSTATS_DOC}/README.md.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/allstats)
# The scheduled month-end packs: systemd reads /usr/lib/systemd/system as well
# as /lib/systemd/system, so the units stay under the prefix.
install(FILES packaging/allstats-pack@.service packaging/allstats-pack@.timer
    DESTINATION lib/systemd/system)
install(FILES packaging/county.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/allstats/examples)

# The .deb: what the program loads at run time, all from Debian. Libraries it
# links come from dpkg-shlibdeps; the Qt plugins, fonts and translations it
# only opens are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME allstats)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "allstats developers")
set(CPACK_PACKAGE_CONTACT "${ALLSTATS_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "statistics indicators of village mutual-aid funds")
# CPack puts the summary above this text.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The statistics-indicator module of a management application for village
mutual-aid funds (村级互助资金管理 · 统计指标). It keeps the indicator
catalogue, lets users build indicator schemes and produces the monthly project
progress and loan quality report (项目进度及借款质量表) for any region, on
screen, on paper, as PDF and as a spreadsheet, from a SQLite or PostgreSQL
database.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6sql6-sqlite, libqt6sql6-psql, libpq5, libqt6keychain1, qt6-translations-l10n, fonts-arphic-uming, fonts-arphic-ukai, fonts-noto-cjk, fonts-dejavu-core, adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postinst ${CMAKE_CURRENT_SOURCE_DIR}/packaging/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
