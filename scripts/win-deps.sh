#!/usr/bin/env bash
# Cross-builds the Windows flavour's libraries with mingw-w64 (posix threads)
# as static libraries from Debian's source packages: OpenSSL, libsrtp2,
# usrsctp, libnice with GLib (and GLib's zlib, libffi, pcre2, libintl), and
# OpenH264. Prints the install prefix on its last line.
#
# The result is cached under ~/.cache/dravnok/win-deps-<recipe>: only the
# first build on a machine pays (about ten minutes on two cores), later ones
# return at once; a build that stopped half-way goes on from the library it
# stopped at, and a library added to the list below is built alone into the
# existing prefix. Sources are fetched with apt under a private configuration; the
# machine's apt setup is never touched.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
cache="${DRAVNOK_CACHE:-$HOME/.cache/dravnok}"
# Raise this whenever a recipe below changes, so that every machine rebuilds.
recipe=1
prefix="$cache/win-deps-$recipe"
libraries=(zlib libffi pcre2 libintl GLib OpenSSL libnice libsrtp2 usrsctp OpenH264 httplib)
# A prefix finished before libraries were marked one by one holds the first ten.
if [ -f "$prefix/.complete" ] && ! compgen -G "$prefix/.built-*" >/dev/null; then
  for lib in "${libraries[@]:0:10}"; do touch "$prefix/.built-$lib"; done
fi
missing=()
for lib in "${libraries[@]}"; do [ -f "$prefix/.built-$lib" ] || missing+=("$lib"); done
if [ ${#missing[@]} = 0 ]; then
  echo "$prefix"
  exit 0
fi

host=x86_64-w64-mingw32
jobs="$(nproc)"
work="$cache/win-deps-work-$recipe"
mkdir -p "$work" "$prefix/lib/pkgconfig" "$prefix/include"
# One build at a time: a second configure (another checkout, a test run)
# waits for the first and then finds the libraries made.
exec 9>"$cache/win-deps-$recipe.lock"
flock 9
missing=()
for lib in "${libraries[@]}"; do [ -f "$prefix/.built-$lib" ] || missing+=("$lib"); done
if [ ${#missing[@]} = 0 ]; then
  echo "$prefix"
  exit 0
fi
log="$work/build.log"
# Progress goes to standard error, the prefix alone to standard output.
exec 3>&1 4>&2 1>>"$log" 2>&1
say() { echo "win-deps: $*" >&4; }
trap 'say "failed; the last lines of $log:"; tail -n 30 "$log" >&4' ERR

export CC="$host-gcc-posix" CXX="$host-g++-posix" AR="$host-ar" RANLIB="$host-ranlib"
export RC="$host-windres" WINDRES="$host-windres" STRIP="$host-strip" NM="$host-nm"
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH=""
export CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib"
export CFLAGS="-O2" CXXFLAGS="-O2"

# --- Debian source packages through a private apt configuration ------------
apt_dir="$cache/apt-src"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
# The same mirrors as the machine's own binary sources.
mirrors="$(grep -hoE 'https?://[^ ]+' /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null |
  grep -E 'debian(-security)?/?$' | sed 's|/$||' | sort -u || true)"
: >"$apt_dir/sources.list"
for uri in $mirrors; do
  case "$uri" in
  *-security) echo "deb-src $uri bookworm-security main" >>"$apt_dir/sources.list" ;;
  *) printf 'deb-src %s bookworm main\ndeb-src %s bookworm-updates main\n' "$uri" "$uri" >>"$apt_dir/sources.list" ;;
  esac
done
[ -s "$apt_dir/sources.list" ] || {
  printf 'deb-src http://deb.debian.org/debian bookworm main\ndeb-src http://deb.debian.org/debian bookworm-updates main\n'
  echo 'deb-src http://deb.debian.org/debian-security bookworm-security main'
} >"$apt_dir/sources.list"
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o APT::Sandbox::User=root
  -o Debug::NoLocking=1)
say "fetching the source package lists"
apt-get "${apt_opts[@]}" update -qq

# fetch NAME [orig]: unpacks the newest version of source package NAME that
# the mirror really serves (an index may list a version that is not there
# yet) into $work/NAME and records it; with "orig", the upstream tarball
# without Debian's patches.
fetch() {
  local name="$1" mode="${2:-}" version dir="$work/src-$1"
  rm -rf "$dir" "${work:?}/$name"
  mkdir -p "$dir"
  for version in $(apt-cache "${apt_opts[@]}" showsrc "$name" | sed -n 's/^Version: //p' | sort -Vr -u); do
    if (cd "$dir" && apt-get "${apt_opts[@]}" source --download-only -qq "$name=$version"); then
      sed -i "/^$name /d" "$prefix/VERSIONS" 2>/dev/null || true
      echo "$name $version" >>"$prefix/VERSIONS"
      if [ "$mode" = orig ]; then
        mkdir -p "$work/$name"
        tar -xf "$(ls "$dir"/*.orig.tar.* | head -n 1)" -C "$work/$name" --strip-components=1
      else
        dpkg-source -x "$(ls "$dir"/*.dsc | head -n 1)" "$work/$name"
      fi
      return 0
    fi
  done
  say "no version of $name could be fetched"
  return 1
}

cmake_build() {
  local src="$1"
  shift
  cmake -S "$src" -B "$src/_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/mingw-w64-x86_64.cmake" -DCMAKE_CROSSCOMPILING_EMULATOR= \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@"
  cmake --build "$src/_build" -j "$jobs"
  cmake --install "$src/_build"
}

cross_file="$work/meson-cross.txt"
cat >"$cross_file" <<EOF
[binaries]
c = '$CC'
cpp = '$CXX'
ar = '$AR'
strip = '$STRIP'
windres = '$WINDRES'
# Debian's meson 1.0 reads this key (it ignores the newer "pkg-config").
pkgconfig = 'pkg-config'

[built-in options]
c_args = ['-I$prefix/include', '-O2']
cpp_args = ['-I$prefix/include', '-O2']
c_link_args = ['-L$prefix/lib']
cpp_link_args = ['-L$prefix/lib']

[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
EOF

meson_build() {
  local src="$1"
  shift
  meson setup "$src/_build" "$src" --cross-file "$cross_file" --prefix "$prefix" --libdir lib \
    --buildtype release --default-library static --wrap-mode nodownload "$@"
  ninja -C "$src/_build" -j "$jobs"
  meson install -C "$src/_build" --no-rebuild
}

# write_pc NAME VERSION LIBS [REQUIRES]: a pkg-config file for a library that
# installs none.
write_pc() {
  printf 'prefix=%s\nName: %s\nDescription: %s\nVersion: %s\nLibs: -L${prefix}/lib %s\nCflags: -I${prefix}/include\nRequires.private: %s\n' \
    "$prefix" "$1" "$1" "$2" "$3" "${4:-}" >"$prefix/lib/pkgconfig/$1.pc"
}

# --- GLib's own needs: zlib, libffi, pcre2, libintl ------------------------
build_zlib() {
  fetch zlib
  # Debian's tarball has no Windows makefile; the library is these files.
  (cd "$work/zlib" && for f in adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast \
    inflate inftrees trees uncompr zutil; do $CC -O2 -c $f.c -o $f.o; done && $AR rcs "$prefix/lib/libz.a" ./*.o)
  cp "$work/zlib/zlib.h" "$work/zlib/zconf.h" "$prefix/include/"
  write_pc zlib 1.2.13 "-lz"
}

build_libffi() {
  fetch libffi
  (cd "$work/libffi" && ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static \
    --disable-docs --disable-multi-os-directory && make -j "$jobs" && make install)
}

build_pcre2() {
  fetch pcre2
  (cd "$work/pcre2" && ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static \
    --disable-pcre2grep-libz --disable-pcre2grep-libbz2 && make -j "$jobs" libpcre2-8.la &&
    make install-libLTLIBRARIES install-includeHEADERS install-nodist_includeHEADERS install-pkgconfigDATA)
}

build_libintl() {
  # Debian's patches to gettext need autoreconf; the upstream tarball builds as is.
  fetch gettext orig
  (cd "$work/gettext/gettext-runtime" && ./configure --host=$host --prefix="$prefix" --disable-shared \
    --enable-static --enable-threads=windows --disable-java --disable-csharp --disable-libasprintf \
    --disable-nls-for-tools 2>/dev/null ||
    ./configure --host=$host --prefix="$prefix" --disable-shared --enable-static --enable-threads=windows \
      --disable-java --disable-csharp --disable-libasprintf)
  make -C "$work/gettext/gettext-runtime/intl" -j "$jobs"
  cp "$work/gettext/gettext-runtime/intl/libintl.h" "$prefix/include/"
  cp "$work/gettext/gettext-runtime/intl/.libs/libintl.a" "$prefix/lib/"
}

# --- GLib, OpenSSL, libnice, SRTP, SCTP ------------------------------------
build_glib() {
  fetch glib2.0
  meson_build "$work/glib2.0" -Dtests=false -Dinstalled_tests=false -Dnls=disabled -Dman=false \
    -Dgtk_doc=false -Dselinux=disabled -Dxattr=false -Dlibmount=disabled -Dsysprof=disabled \
    -Dlibelf=disabled -Dglib_debug=disabled -Dforce_posix_threads=false
}

build_openssl() {
  fetch openssl
  # The configuration folder's path is compiled into libcrypto; a Windows one.
  (cd "$work/openssl" && ./Configure mingw64 no-shared no-module no-tests \
    --prefix="$prefix" --libdir=lib "--openssldir=C:/ProgramData/Dravnok/ssl" &&
    make -j "$jobs" build_libs && make install_dev)
}

build_libnice() {
  fetch libnice
  # Its tools link libcrypto without the system libraries it names as private.
  meson_build "$work/libnice" -Dcrypto-library=openssl -Dgstreamer=disabled -Dtests=disabled \
    -Dexamples=disabled -Dgupnp=disabled -Dintrospection=disabled \
    "-Dc_winlibs=['-lkernel32','-luser32','-lgdi32','-ladvapi32','-lcrypt32','-lws2_32','-liphlpapi']"
}

build_libsrtp2() {
  fetch libsrtp2
  # Windows' ntohl returns u_long, which the library's format strings warn about.
  # On OpenSSL's ciphers: the built-in ones have no AES-GCM, which browsers
  # prefer for SRTP. (CMake's FindOpenSSL names MinGW's libraries LIB_EAY and
  # SSL_EAY, and would not look outside the cross root.)
  cmake_build "$work/libsrtp2" -DBUILD_WITH_WARNINGS=OFF -DTEST_APPS=OFF -DENABLE_OPENSSL=ON \
    -DOPENSSL_INCLUDE_DIR="$prefix/include" -DLIB_EAY="$prefix/lib/libcrypto.a" -DSSL_EAY="$prefix/lib/libssl.a"
  write_pc libsrtp2 2.5.0 "-lsrtp2 -lws2_32" libcrypto
}

build_usrsctp() {
  fetch libusrsctp
  cmake_build "$work/libusrsctp" -Dsctp_werror=OFF -Dsctp_build_programs=OFF -Dsctp_build_shared_lib=OFF \
    -Dsctp_debug=OFF
  write_pc usrsctp 0.9.5.0 "-lusrsctp -lws2_32 -liphlpapi"
}

# The software H.264 encoder where Media Foundation has none.
build_openh264() {
  fetch openh264
  make -C "$work/openh264" -j "$jobs" OS=mingw_nt ARCH=x86_64 CC="$CC" CXX="$CXX" AR="$AR" \
    PREFIX="$prefix" install-static
}

# The HTTP server of remote-agent: the upstream single header, which holds
# the implementation (Debian's own build splits it into a shared library).
build_httplib() {
  fetch cpp-httplib
  cp "$work/cpp-httplib/httplib.h" "$prefix/include/"
  write_pc cpp-httplib 0.11.4 "-lws2_32 -lcrypt32" openssl
  sed -i 's|^Cflags: .*|& -DCPPHTTPLIB_OPENSSL_SUPPORT|' "$prefix/lib/pkgconfig/cpp-httplib.pc"
}

started=$(date +%s)
# Each library leaves a mark in the prefix once installed, so that a build
# that stopped goes on from there.
for lib in "${missing[@]}"; do
  say "$lib ($(($(date +%s) - started)) s)"
  "build_${lib,,}"
  touch "$prefix/.built-$lib"
done
date -u +%FT%TZ >"$prefix/.complete"
rm -rf "$work"
say "built in $(($(date +%s) - started)) s: $prefix"
echo "$prefix" >&3
