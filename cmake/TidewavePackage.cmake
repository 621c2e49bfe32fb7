# `make package`: a Debian package of the whole installation (the host, the
# add-ons, their data, the desktop files and the add-on SDK), named
# tidewave_<version>_<arch>.deb. dpkg-shlibdeps works out the libraries it
# depends on, so `apt install ./tidewave_*.deb` pulls them in.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tidewave)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "music visualiser: the Tidewave filters live, captured or rendered")
set(CPACK_PACKAGE_DESCRIPTION
    "Eight visual-effect add-ons (twelve filters: spectrum scopes, a waveform, a slide show, a torus, voxel \
flights, a flip-book) and tidewave, which shows them live over what the desktop plays, plays music files, \
and renders them to pictures and videos.")
set(CPACK_PACKAGE_CONTACT "Tidewave developers <tidewave@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The platform library ships in the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/platform)
# Videos are encoded by the ffmpeg program; the window needs a sound server.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg, pulseaudio | pipewire-pulse")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
