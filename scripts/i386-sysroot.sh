#!/usr/bin/env bash
# Makes the i386 root the 32-bit build compiles against and runs in: the :i386 Debian packages of
# the libraries, the test framework and the Java VM, unpacked (not installed) into one folder.
#
#   scripts/i386-sysroot.sh <folder>
#
# Uses a private apt configuration (its own sources, lists and cache inside <folder>.apt), so the
# host keeps its own architecture list and package state. Only the main archive is used: its
# i386 packages match each other, whatever security updates the host has. A package that cannot
# be fetched fails the whole step; the folder is only marked complete at the end.
set -euo pipefail
root=$(realpath -m "${1:?usage: i386-sysroot.sh <folder>}")
[ -f "$root/.complete" ] && exit 0

PW_I386_PACKAGES=(
  libc6-dev libstdc++-12-dev libgcc-12-dev
  libsndfile1-dev libmpg123-dev libpulse-dev libcdio-dev libcdio-paranoia-dev uuid-dev libsoundtouch-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libasound2-dev libdiscid-dev
  libgtest-dev libgmock-dev libbenchmark-dev libnss-wrapper
  libx11-dev libxrandr-dev libdbus-1-dev libglib2.0-dev libgtk-3-dev
  openjdk-17-jdk-headless ffmpeg
)

apt_dir="$root.apt"
rm -rf "$root" "$apt_dir"
mkdir -p "$apt_dir"/{lists/partial,archives/partial,etc/preferences.d,state} "$root"
echo "deb [arch=i386 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
  >"$apt_dir/etc/sources.list"
: >"$apt_dir/status"
apt_opts=(
  -o APT::Architecture=i386 -o APT::Architectures::=i386
  -o Dir::Etc::SourceList="$apt_dir/etc/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o Dir::Etc::PreferencesParts="$apt_dir/etc/preferences.d"
  -o Dir::State="$apt_dir/state" -o Dir::State::Lists="$apt_dir/lists"
  -o Dir::State::status="$apt_dir/status" -o Dir::Cache="$apt_dir"
  -o Dir::Cache::archives="$apt_dir/archives" -o Debug::NoLocking=1
  -o APT::Install-Recommends=0 -o Acquire::Retries=3
)
echo "i386 root: package lists"
apt-get "${apt_opts[@]}" update -qq
echo "i386 root: downloading ${#PW_I386_PACKAGES[@]} packages and their dependencies"
apt-get "${apt_opts[@]}" install -y -qq --download-only "${PW_I386_PACKAGES[@]}" >/dev/null
# Essential packages are not pulled in as dependencies; the loader and libc come with libc6-dev.
shopt -s nullglob
debs=("$apt_dir"/archives/*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "i386 root: nothing downloaded" >&2; exit 1; }
echo "i386 root: unpacking ${#debs[@]} packages"
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done

# Absolute symbolic links point into the host; make them relative to the root.
find "$root" -type l -lname '/*' -print0 | while IFS= read -r -d '' link; do
  target=$(readlink "$link")
  ln -snf "$(realpath -m --relative-to="$(dirname "$link")" "$root$target")" "$link"
done
# Libraries chosen through alternatives (BLAS and LAPACK, which the ffmpeg tool needs) get the
# links their install scripts would make.
lib="$root/usr/lib/i386-linux-gnu"
for alt in blas/libblas.so.3 lapack/liblapack.so.3; do
  [ -e "$lib/$alt" ] && ln -snf "$alt" "$lib/$(basename "$alt")"
done
# The JDK's alternatives are made by its install scripts, which are not run here.
jdk=$(ls -d "$root"/usr/lib/jvm/java-17-openjdk-i386)
[ -x "$jdk/bin/java" ] || { echo "i386 root: no Java VM in $jdk" >&2; exit 1; }
rm -rf "$apt_dir/archives"
touch "$root/.complete"
echo "i386 root ready: $root"
