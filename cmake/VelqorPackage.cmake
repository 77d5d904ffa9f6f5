# Debian packages made by CPack from the install rules (scripts/build-deb.sh):
# tagscope_<version>_amd64.deb holds the programs, libvelqor-dev_<version>_amd64.deb the toolkit.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tagscope)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Tagscope authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "client for OPC Data Access servers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tagscope dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Tagscope authors")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_TAGSCOPE_PACKAGE_NAME tagscope)
set(CPACK_DEBIAN_TAGSCOPE_PACKAGE_SECTION electronics)
# The shared libraries the programs load decide the dependencies (dpkg-shlibdeps).
set(CPACK_DEBIAN_TAGSCOPE_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_TAGSCOPE_DESCRIPTION
  "client for OPC Data Access servers
 Tagscope is a desktop client for OPC Data Access servers: connect to a server, make
 groups, browse the address space, add items and watch value, timestamp and quality
 change live. It speaks OPC XML-DA 1.0 over HTTP and classic OPC DA 1.0, 2.0 and 3.0.
 .
 The package also holds tagscope-cli, the same client on the command line, and
 xmlda-sim, an OPC XML-DA simulation service to explore and test against.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libvelqor-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libxml2-dev, libcurl4-openssl-dev | libcurl-dev, libssl-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION
  "C++ client toolkit for OPC Data Access servers (development files)
 Velqor hides OPC XML-DA 1.0 and classic OPC DA behind one component model:
 server, groups, items, browser and server list. This package holds its static
 libraries, headers, the CMake package Velqor and the pkg-config file velqor.pc.")
include(CPack)
