# Every dependency comes from Debian's packages (see scripts/install-deps.sh).
set(Boost_NO_WARN_NEW_VERSIONS ON)
find_package(Boost 1.74 REQUIRED COMPONENTS thread system filesystem date_time)
find_package(Threads REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(PkgConfig REQUIRED)
pkg_check_modules(GTK2 REQUIRED IMPORTED_TARGET gtk+-2.0)
# XTest injects input into the X server for the window tests.
pkg_check_modules(XTST REQUIRED IMPORTED_TARGET GLOBAL xtst x11)

# UTF8-CPP is header-only; Debian installs it under /usr/include/utf8cpp.
find_path(UTF8CPP_INCLUDE_DIR utf8.h PATH_SUFFIXES utf8cpp REQUIRED)
add_library(utf8cpp INTERFACE)
target_include_directories(utf8cpp SYSTEM INTERFACE ${UTF8CPP_INCLUDE_DIR})

# boost::bind's global placeholders are deprecated; the code uses
# boost::placeholders explicitly.
add_compile_definitions(BOOST_BIND_NO_PLACEHOLDERS)
