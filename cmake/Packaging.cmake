# `make package`: a Debian package of the three programs with the menu entry, the icon, the
# translations, the manual pages and the copyright and changelog files (packaging/). Its Depends
# come from the shared libraries the programs load (dpkg-shlibdeps); the Russian texts of Qt's
# own dialogs, the display plugins and the Python that runs hitsieve-cluster are no libraries,
# so they are named here. Debian's lintian accepts it without errors (tests/package).
add_subdirectory(packaging)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hitsieve)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The package's own revision: its changelog is packaging/changelog.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT "Hitsieve developers <hitsieve@hitsieve.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "web access-log analyser with a desktop window and a command line")
set(CPACK_PACKAGE_DESCRIPTION
    "Turns a web site's access logs (plain or gzip) into visit statistics: days,\n pages, referers, search phrases and crawler visits, shown in a desktop window\n or printed by hitsieve-cli, and exported as workbooks and web pages.\n hitsieve-cluster spreads one analysis over a Dask cluster.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, qt6-qpa-plugins")
# hitsieve-cluster runs only where Dask is installed; it says so when it is not.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-distributed, qt6-translations-l10n")
# The programs are built with debugging information; the package holds them stripped.
set(CPACK_STRIP_FILES ON)
include(CPack)
