#!/usr/bin/env bash
# Installs the Debian packages unplot needs, when they are missing. Sourced by run.sh and test.sh.

UNPLOT_RUN_PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libcpp-httplib-dev libssl-dev nlohmann-json3-dev libsqlite3-dev libzip-dev libpq-dev
    libmupdf-dev libmujs-dev libgumbo-dev libopenjp2-7-dev libjbig2dec0-dev libharfbuzz-dev libfreetype-dev
    libjpeg-dev zlib1g-dev libpng-dev libbrotli-dev libqpdf-dev
    hershey-fonts-data librecad-data libtesseract-dev tesseract-ocr-eng
    libpolyclipping-dev
    curl
)
UNPLOT_TEST_PACKAGES=(
    libgtest-dev libgmock-dev
    xvfb xauth xdotool imagemagick python3 python3-ezdxf python3-werkzeug time
    pstoedit ghostscript poppler-utils mupdf-tools libdxflib-dev
    clang libfuzzer-14-dev
    postgresql
    dpkg-dev file lintian unzip

)

unplot_install_packages() {
    local wanted=("$@") missing=()
    for p in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
        "${missing[@]}"
}
