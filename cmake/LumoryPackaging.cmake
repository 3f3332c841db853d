# The Debian package, made by CPack from the install tree:
#   cmake --preset release && cmake --build --preset release --target package
# (lands in build/release as lumory_VERSION_ARCH.deb; the README has the whole sequence).
# Its library dependencies are read off the programs by dpkg-shlibdeps; the service adds Node.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumory)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Lumory developers")
set(CPACK_PACKAGE_CONTACT "The Lumory developers <developers@lumory.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "notes, tasks and reminders for the day")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${LUMORY_HOMEPAGE})
# The extended description; CPack puts the summary above it and indents every line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Lumory keeps the day's notes, tasks and reminders in one window: notes are
Markdown files in a folder of your own, tasks with a due time remind you
with a desktop notification, and a panel shows today's calendar.

The package holds the desktop shell, its local service (run by Node.js),
the calendar helper (Evolution Data Server) and the system audio helper
(PulseAudio or PipeWire).")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "nodejs (>= 18)")
# A dictionary for the spell checker of the page's text fields (Enchant finds any hunspell one).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "evolution-data-server, pulseaudio | pipewire-pulse, hunspell-en-us | hunspell-dictionary")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
