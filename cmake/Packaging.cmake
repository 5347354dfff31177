# `make package`: a Debian package of both programs with the menu entry, the icon and the
# translations. Its Depends come from the shared libraries the programs load (dpkg-shlibdeps);
# the Russian texts of Qt's own dialogs and the display plugins are no libraries, so they are
# named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hitsieve)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Hitsieve developers <hitsieve@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "web access-log analyser with a desktop window and a command line")
set(CPACK_PACKAGE_DESCRIPTION
    "Turns a web site's access logs (plain or gzip) into visit statistics: days, pages,\n referers, search phrases and crawler visits, shown in a desktop window or printed by\n hitsieve-cli, and exported as workbooks.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
# hitsieve-cluster runs only where Dask is installed; it says so when it is not.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-distributed")
include(CPack)
