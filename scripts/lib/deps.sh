# Installs the Debian packages the build, the tests and the demo need, when
# they are missing (sourced by scripts/test and scripts/demo).
#
# install_missing PACKAGE... : apt-get installs those not installed yet.

install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# What building the program and running it under Wine takes.
YYGATE_WINE_PACKAGES=(
    cmake make python3 git ca-certificates
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    wine wine64 xvfb x11-utils locales fonts-wqy-microhei imagemagick
    googletest
)

# What the native tests and the static checks add.
YYGATE_TEST_PACKAGES=(
    "${YYGATE_WINE_PACKAGES[@]}"
    g++ clang libclang-rt-14-dev python3-pefile zip
)
