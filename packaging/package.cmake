# The Debian packages, one per install component, made by CPack (scripts/package runs it on a
# Release tree installed under /usr).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumenord)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Lumenord developers")
set(CPACK_PACKAGE_CONTACT "The Lumenord developers <lumenord@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Staged with DESTDIR, so that install steps see the real prefix (lumenord.pc).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SOURCE lumenord)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# Dependencies on system libraries from dpkg-shlibdeps; the library's own package gets a shlibs
# file and the ldconfig trigger. A package that holds programs depends on liblumenord1 of the
# same build by name (CPACK_COMPONENT_*_DEPENDS): the tools link it, and the program loads it
# with dlopen(), which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# dpkg-shlibdeps runs in each package's staging folder; the library is found in its own
# package's folder beside it, and liblumenord1 is depended on by name instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    ../runtime${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})

set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME liblumenord1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The symbols file (kept by hand: a function added later gets the version that added it; the
# consumer test checks it against the library's exports) and the ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/deb/symbols
                                               ${CMAKE_CURRENT_SOURCE_DIR}/deb/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "driver library for an encrypting PIN pad on a serial line
Lumenord owns the serial port of an encrypting PIN pad (EPP), frames and
exchanges its commands and returns a result code for every outcome, through
a flat set of PinPad_ C functions: port control, customer information, key
loading, authentication, PIN entry, MAC, data encryption, IC card, display.
.
This package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME liblumenord-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "driver library for an encrypting PIN pad - development files
Lumenord owns the serial port of an encrypting PIN pad (EPP), frames and
exchanges its commands and returns a result code for every outcome.
.
This package holds the header <lumenord/pinpad.h>, the CMake package
(find_package(Lumenord 1.0 CONFIG), target Lumenord::Lumenord), the
pkg-config file lumenord.pc and the link to the library.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME lumenord-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "command-line tool and simulated pad for an encrypting PIN pad
lumenord runs every operation of an encrypting PIN pad (EPP) on a serial
line as a scriptable step, with JSON output, test records and exit codes,
for production lines, repair benches and acceptance tests.
.
padsim is a simulated pad on a pseudo-terminal that computes what a pad
computes and can misbehave on purpose, for trying scripts without a pad.")

if(TARGET Tallowbench_english)
    list(APPEND CPACK_COMPONENTS_ALL tallowbench)
    set(CPACK_COMPONENT_TALLOWBENCH_DEPENDS runtime)
    set(CPACK_DEBIAN_TALLOWBENCH_PACKAGE_NAME tallowbench)
    set(CPACK_DEBIAN_TALLOWBENCH_PACKAGE_SECTION electronics)
    # Qt finds its display plugins (xcb, wayland) at run time, which dpkg-shlibdeps cannot see;
    # libqt6gui6 only recommends them, and a machine that installs without recommends would
    # otherwise get a program that cannot open its window.
    set(CPACK_DEBIAN_TALLOWBENCH_PACKAGE_DEPENDS qt6-qpa-plugins)
    set(CPACK_COMPONENT_TALLOWBENCH_DESCRIPTION
        "test program for an encrypting PIN pad
Tallowbench_english is the Qt desktop program with which service staff
exercise every function of an encrypting PIN pad (EPP) on a serial line,
one page per family of operations, with a monitor of the frames on the
line. It loads the driver library at run time.")
endif()

include(CPack)
