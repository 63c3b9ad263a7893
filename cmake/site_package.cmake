# How pellmar-site installs, and the Debian package that carries it (scripts/package runs
# cpack on the host-release build). Paths are absolute because a unit and a sysusers file
# belong where systemd looks, whatever the install prefix.
set(site_dir ${PROJECT_SOURCE_DIR}/site)

install(TARGETS pellmar-site RUNTIME DESTINATION /usr/bin)
install(FILES ${site_dir}/pellmar-site.service DESTINATION /lib/systemd/system)
install(FILES ${site_dir}/pellmar-site.sysusers.conf
        DESTINATION /usr/lib/sysusers.d
        RENAME pellmar-site.conf)
install(FILES ${site_dir}/pellmar-site.tmpfiles.conf
        DESTINATION /usr/lib/tmpfiles.d
        RENAME pellmar-site.conf)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION /usr/share/doc/pellmar-site
        RENAME copyright)
# The site's page with the pages it links to and their pictures, laid out as in docs/, so that
# its links work where it is installed.
install(FILES ${PROJECT_SOURCE_DIR}/docs/site_on_linux.md ${PROJECT_SOURCE_DIR}/docs/user_guide.md
        ${PROJECT_SOURCE_DIR}/docs/setup_dialog.md
        DESTINATION /usr/share/doc/pellmar-site)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION /usr/share/doc/pellmar-site)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellmar-site)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Pellmar developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Pellmar remote site: a Tarvel CW keyer on the network")
set(CPACK_PACKAGE_DESCRIPTION
    "The headless Pellmar station for the machine beside the transmitter. It runs the
station its configuration names, usually a RemoteSide that home links to over TCP,
writes what the Windows program's window would show as log lines to the journal,
and lets go of the keyer whenever it loses control.")
set(CPACK_STRIP_FILES ON)
# pellmar-site_<version>_<architecture>.deb, the architecture being Debian's name for the
# machine the compiler builds for: a cross build packs for its board, a native one (CPack's
# default, dpkg --print-architecture) for the machine it runs on.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
find_program(PELLMAR_DPKG_ARCHITECTURE dpkg-architecture)
if(CMAKE_CROSSCOMPILING AND PELLMAR_DPKG_ARCHITECTURE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
                    OUTPUT_VARIABLE gnu_type OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${PELLMAR_DPKG_ARCHITECTURE} -t ${gnu_type} -qDEB_HOST_ARCH
                    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS systemd)
find_program(PELLMAR_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(PELLMAR_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")  # the C++ runtime is linked in
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${site_dir}/debian/postinst ${site_dir}/debian/prerm ${site_dir}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
