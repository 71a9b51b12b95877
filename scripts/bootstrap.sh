#!/usr/bin/env bash
# Installs what building and testing Quillbeat needs: Debian packages and a
# JUCE 8 source tree. Safe to run again; silent when everything is in place.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cache="$repo/.cache"

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

packages=(
    build-essential cmake ninja-build ccache pkg-config git dpkg-dev xz-utils patch
    clang libclang-rt-dev
    libgtk-3-dev libwebkit2gtk-4.1-dev libasound2-dev
    libfreetype-dev libfontconfig1-dev libpng-dev libjpeg-dev zlib1g-dev
    libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev
    libxcomposite-dev libxrender-dev
    xvfb xauth x11-utils fonts-dejavu-core libgtest-dev googletest locales chromium
    libbenchmark-dev valgrind
)

install_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    echo "bootstrap: installing ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The Debian mirror this machine already uses, read from its own apt setup.
debian_mirror() {
    apt-get --print-uris update 2>/dev/null \
        | sed -n "s|^'\(.*\)/dists/[a-z]*/InRelease'.*|\1|p" \
        | grep -v -- '-security' | head -n 1
}

# JUCE 8 from Debian 13's source package, fetched through a private apt
# configuration so the machine's own apt state is left alone.
download_juce_source() {
    local apt_dir="$cache/apt"
    ls "$apt_dir"/src/juce_*.dsc >/dev/null 2>&1 && return

    local mirror
    mirror=$(debian_mirror)
    if [ -z "$mirror" ]; then
        echo "bootstrap: no Debian mirror found in this machine's apt configuration" >&2
        exit 1
    fi

    mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$apt_dir/sources.list.d" "$apt_dir/src"
    printf 'deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s trixie main\n' "$mirror" \
        > "$apt_dir/sources.list"
    local opts=(
        -o "Dir::Etc::SourceList=$apt_dir/sources.list"
        -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
        -o "Dir::State::Lists=$apt_dir/lists"
        -o "Dir::Cache=$apt_dir"
        -o "Dir::Cache::Archives=$apt_dir/archives"
        -o "Debug::NoLocking=1"
    )
    # As root, apt would hand downloads to its unprivileged user, who cannot write here.
    [ "$(id -u)" -eq 0 ] && opts+=(-o "APT::Sandbox::User=root")

    echo "bootstrap: fetching Debian's JUCE source package (trixie) from $mirror"
    apt-get "${opts[@]}" -qq update
    (cd "$apt_dir/src" && apt-get "${opts[@]}" -qq --download-only source juce >/dev/null)
}

# Unpacks the source package (Debian's patches applied) and applies ours on
# top, with the same script the build uses on trees that lack them; a build
# from this tree finds every fix in place and uses it as it is. A tree whose
# stamp does not match the current patch series is unpacked afresh, so the
# series always applies to a pristine tree.
prepare_juce_tree() {
    local src="$cache/apt/src" tree="$cache/apt/src/tree"
    local stamp="$tree/.quillbeat-patches"
    local series
    series=$(cat "$repo"/patches/juce/*.patch 2>/dev/null | sha256sum | cut -d' ' -f1)

    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$series" ] && [ -L "$cache/juce" ]; then
        return
    fi

    echo "bootstrap: unpacking JUCE and applying patches/juce"
    rm -rf "$tree"
    # apt has already checked the files against the archive's signed index.
    dpkg-source --no-check -x "$(ls "$src"/juce_*.dsc | head -n 1)" "$tree" >/dev/null

    local version
    version=$(sed -n 's/^project(JUCE VERSION \([0-9.]*\).*/\1/p' "$tree/CMakeLists.txt" 2>/dev/null || true)
    case "$version" in
        8.*) ;;
        *) echo "bootstrap: expected JUCE 8.x from Debian's juce source package, found '${version:-nothing}'" >&2
           exit 1 ;;
    esac

    cmake -DJUCE_TREE="$tree" -DPATCH_DIR="$repo/patches/juce" -P "$repo/cmake/JuceFixes.cmake"

    echo "$series" > "$stamp"
    ln -sfn "$tree" "$cache/juce"
    echo "bootstrap: JUCE $version with $(ls "$repo"/patches/juce/*.patch 2>/dev/null | wc -l) patch(es) at $cache/juce"
}

# Upstream JUCE as Debian received it (its tarball without Debian's patches),
# never patched in place: the dev preset builds from it, so the build's own
# copy-and-patch step runs as it does in a Windows developer's build.
prepare_upstream_juce_tree() {
    local src="$cache/apt/src" tree="$cache/apt/src/upstream"
    local manifest="$src/upstream.sha256"
    if [ -f "$tree/CMakeLists.txt" ] && [ -f "$manifest" ] && [ -L "$cache/juce-upstream" ]; then
        return
    fi
    echo "bootstrap: unpacking upstream JUCE without Debian's patches"
    rm -rf "$tree"
    dpkg-source --no-check --skip-patches -x "$(ls "$src"/juce_*.dsc | head -n 1)" "$tree" >/dev/null
    # What the tree held when unpacked, so tests can show builds leave it alone.
    (cd "$tree" && find . -type f -print0 | sort -z | xargs -0 sha256sum) > "$manifest"
    ln -sfn "$tree" "$cache/juce-upstream"
}

# A comma-decimal locale, so tests can prove the page's numbers ignore the user's locale.
ensure_test_locale() {
    locale -a 2>/dev/null | grep -qx 'de_DE.utf8' && return
    echo "bootstrap: creating the de_DE.UTF-8 locale"
    "${sudo[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
}

# The page is built with Node.js 20.19 or later (the machine's own, or Debian's).
ensure_node() {
    if ! command -v node >/dev/null 2>&1; then
        echo "bootstrap: installing Node.js"
        "${sudo[@]}" apt-get install -y -qq nodejs npm >/dev/null
    fi
    if ! node -e 'const [a, b] = process.versions.node.split(".").map(Number); process.exit(a > 20 || (a === 20 && b >= 19) ? 0 : 1)'; then
        echo "bootstrap: the page needs Node.js 20.19 or later; this machine has $(node --version)" >&2
        exit 1
    fi
}

install_packages
ensure_node
ensure_test_locale
download_juce_source
prepare_juce_tree
prepare_upstream_juce_tree
