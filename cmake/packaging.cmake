# The Debian package: `cpack -G DEB` in the build folder packs everything
# `cmake --install` installs, under /usr, as torquelin_<version>_<arch>.deb.
set(TORQUELIN_MAINTAINER "Torquelin developers <dev@torquelin.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME torquelin)
set(CPACK_PACKAGE_VENDOR "Torquelin developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "keep copies of a directory tree in step by shipping patch files")
if(TORQUELIN_GUI)
  set(torquelin_programs "the command-line program torquelin and the desktop
program torquelin-gui, with their manual pages, bash completion, menu entry
and icon.")
else()
  set(torquelin_programs "the command-line program torquelin with its manual
page and bash completion.")
endif()
set(CPACK_PACKAGE_DESCRIPTION
    "Torquelin compares the new state of a directory tree with the old one and
writes the whole difference into one patch file. On every machine that still
has the old state it applies the patch, after checking by a fingerprint of
the tree that the target really is the old state, and checks afterwards that
the target has become the new state. A vault file records a tree's state so
that patches can be made without the older tree at hand.
.
This package holds ${torquelin_programs}")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Debian revision: data/changelog.Debian's newest entry is
# ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TORQUELIN_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS bash-completion)

include(CPack)
