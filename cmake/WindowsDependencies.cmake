# Finds the static libraries that scripts/build-windows-deps.sh builds into
# QUORVEX_WINDOWS_DEPS, through their pkg-config files as on Linux.
set(QUORVEX_WINDOWS_DEPS "${PROJECT_SOURCE_DIR}/build-windows/deps/prefix"
    CACHE PATH "Prefix holding the MinGW builds of zlib, libdeflate, libjpeg and libtiff")
if(NOT EXISTS "${QUORVEX_WINDOWS_DEPS}/lib/libtiff.a")
  message(FATAL_ERROR "No libtiff in ${QUORVEX_WINDOWS_DEPS}: run scripts/build-windows-deps.sh")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH "${QUORVEX_WINDOWS_DEPS}")
list(APPEND CMAKE_PREFIX_PATH "${QUORVEX_WINDOWS_DEPS}")
set(ENV{PKG_CONFIG_LIBDIR} "${QUORVEX_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(PKG_CONFIG_USE_STATIC_LIBS ON)
set(ZLIB_USE_STATIC_LIBS ON)
# nlohmann/json is headers only: the Debian package's copy serves both builds,
# from a folder of its own so that no other Linux header comes along.
set(QUORVEX_JSON_INCLUDE "${CMAKE_BINARY_DIR}/json-include")
file(MAKE_DIRECTORY "${QUORVEX_JSON_INCLUDE}")
file(CREATE_LINK /usr/include/nlohmann "${QUORVEX_JSON_INCLUDE}/nlohmann" SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${QUORVEX_JSON_INCLUDE}")
# One .exe that needs no DLL beside it: the C and C++ runtimes and
# winpthreads linked in.
add_link_options(-static -static-libgcc -static-libstdc++)
# libtiff's pkg-config file names none of its codecs' libraries.
set(QUORVEX_TIFF_CODEC_LIBS "${QUORVEX_WINDOWS_DEPS}/lib/libjpeg.a"
    "${QUORVEX_WINDOWS_DEPS}/lib/libdeflate.a" "${QUORVEX_WINDOWS_DEPS}/lib/libz.a")
