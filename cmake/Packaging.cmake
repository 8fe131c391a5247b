# The Debian package: `cmake --build build --target package` (or `cpack -G DEB` in the build
# folder) makes tarvelo_VERSION_ARCH.deb from what the install rules put below /usr.
#
# Only what a user runs goes into it: the program, the port helper and the desktop files. Those
# install rules belong to the default component; the simulator, the skin painter, tests and
# benchmarks install nothing, and any rule of theirs that ever does must name another component,
# which the package leaves out.
include(GNUInstallDirs)

set(TARVELO_PACKAGE_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)

# The licence and the changelog land where Debian's tools look for them. The changelog is kept as
# text in the tree and compressed here the way Debian wants it: maximal, without the file's name
# and time, so that two builds of one source give the same package.
install(FILES ${TARVELO_PACKAGE_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvelo)
set(tarvelo_changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9 -n -c ${TARVELO_PACKAGE_DIR}/changelog
                OUTPUT_FILE ${tarvelo_changelog_gz}
                RESULT_VARIABLE tarvelo_gzip_result)
if(NOT tarvelo_gzip_result EQUAL 0)
  message(FATAL_ERROR "Could not compress ${TARVELO_PACKAGE_DIR}/changelog")
endif()
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${TARVELO_PACKAGE_DIR}/changelog)
install(FILES ${tarvelo_changelog_gz} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvelo)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvelo)
set(CPACK_PACKAGE_VENDOR "The Tarvelo developers")
set(CPACK_PACKAGE_CONTACT "Tarvelo developers <tarvelo@tarvelo.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tarvelo.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finds the network storage devices of a home network")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The program carries paths made from the prefix the tree was configured with (where it finds the
# port helper), and a few files go to absolute places made from it (the ufw profile below /etc).
# A package for /usr from a tree configured for /usr/local would look for the helper in the
# wrong place, so cpack refuses to make one (see packaging/CPackProjectConfig.cmake).
set(CPACK_TARVELO_CONFIGURED_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/CPackProjectConfig.cmake)
# The program is built with debugging information for the developers; users get it stripped.
set(CPACK_STRIP_FILES ON)
# Folders made on the way get the usual modes whatever the packager's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# One package of the default component alone (see above). CPack honours the list of components
# only when it installs by component; grouping them all into one package then keeps a single
# tarvelo package.
set(CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_DEBIAN_PACKAGE_NAME tarvelo)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY, which CPack puts in front of this.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[Tarvelo searches the local networks for network storage devices and lists
them in one small skinned window, with each device's host name, address
and type. Devices are found by a UDP broadcast search and an SSDP-style
multicast search that run side by side, and the list stays live as devices
come and go.

Log In opens a device's web page in the preferred browser; My Storage
mounts the device's SMB shares through GVFS and opens them in the file
manager. A headless search (tarvelo --search) prints the devices for
scripts, as a table, JSON or a parsable list.

The broadcast search receives its answers on UDP port 67. Only a tiny
helper program, installed with the capability CAP_NET_BIND_SERVICE,
binds that port and hands it to Tarvelo, which itself never runs with
privileges.]=])

# The libraries the binaries link come from dpkg-shlibdeps; the rest are programs and data the
# program reaches at run time:
# - xdg-open (xdg-utils) opens a device's page and, without a FileManager1 service, its shares;
# - My Storage mounts smb://ADDRESS/ through the GVFS daemon's mount tracker on the session bus,
#   which needs the daemon (gvfs) and its SMB backend (gvfs-backends). It asks GVFS for the mount
#   over D-Bus and hands the smb:// location to the file manager, never a FUSE path, so gvfs-fuse
#   is not needed;
# - setcap (libcap2-bin) is what the postinst grants the helper its capability with;
# - the skins name Tahoma, 宋体, Meiryo and Malgun Gothic, which the program draws with Liberation
#   Sans or DejaVu Sans, and with WenQuanYi Zen Hei or Noto Sans CJK for the CJK languages;
# - Qt's platform plugins: xcb (qt6-qpa-plugins) and Wayland (qt6-wayland), which the Qt libraries
#   load at run time and so do not show up among the linked libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "xdg-utils, gvfs, gvfs-backends, libcap2-bin, qt6-qpa-plugins, qt6-wayland, \
fonts-liberation | fonts-liberation2, fonts-dejavu-core, fonts-wqy-zenhei | fonts-noto-cjk")
# A firewall that drops unasked-for datagrams hides the devices' answers; the package brings a
# service for firewalld and an application profile for ufw, which only count with either.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "firewalld | ufw")

# The postinst grants the port helper its capability. Files under /etc are the admin's to edit,
# so dpkg keeps their changes (conffiles).
set(TARVELO_PACKAGE_CONFFILES /etc/ufw/applications.d/tarvelo)
string(REPLACE ";" "\n" tarvelo_conffiles_text "${TARVELO_PACKAGE_CONFFILES}")
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "${tarvelo_conffiles_text}\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${TARVELO_PACKAGE_DIR}/postinst ${CMAKE_BINARY_DIR}/packaging/conffiles)
# Maintainer scripts get 0755, the other control files 0644, whatever the modes in the tree.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
