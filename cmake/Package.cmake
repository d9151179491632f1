# The Debian package: `cpack --config build/CPackConfig.cmake` (after the build) makes
# zunaro_<version>_amd64.deb from the install rules. Run-time libraries come from
# dpkg-shlibdeps; what the program loads or starts without linking it is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zunaro)
set(CPACK_PACKAGE_VENDOR "The Zunaro developers")
set(CPACK_PACKAGE_CONTACT "The Zunaro developers <zunaro@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "alarm gateway: printed alarms to SMS, e-mail and speech")
set(CPACK_PACKAGE_DESCRIPTION
    "Zunaro listens on TCP port 9100 as a raw printer. Every print job of a monitoring program
becomes one alarm text, which is logged and sent to every recipient: as SMS through a GSM
modem on a serial port, as e-mail over SMTP, and spoken aloud. It runs as a desktop program
with a tray icon, or headless as a systemd user service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's SVG artwork is drawn by Qt's SVG plugins; speech needs espeak-ng's voices.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, espeak-ng-data")
# Setup Printer Driver runs lpadmin with the text-only driver; the modem's event lines are
# Chinese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-client, cups-filters, fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups")
include(CPack)
