# The Debian packages the build, the tests and the demo need. Sourced by scripts/test and
# scripts/demo; installs only what is missing, quietly.
PW_PACKAGES=(
  cmake g++ make pkg-config googletest libgtest-dev libbenchmark-dev openjdk-17-jdk-headless uuid-dev
  libsoundtouch-dev libsndfile1-dev libmpg123-dev libpulse-dev libcdio-dev libcdio-paranoia-dev
  libavformat-dev libavcodec-dev libswresample-dev libasound2-dev mpg123
  pulseaudio pulseaudio-utils sox libsox-fmt-mp3 lame flac vorbis-tools vorbisgain mp3gain
  aubio-tools libdiscid-dev libcdio-utils ffmpeg python3-numpy python3-scipy
  libx11-dev libxrandr-dev libdbus-1-dev libglib2.0-dev libglib2.0-bin openjdk-17-jre
  xvfb xauth openbox x11-utils x11-xserver-utils dbus-daemon libnss-wrapper
  libgtk-3-dev xdotool shared-mime-info
  g++-i686-linux-gnu qemu-user
)

pw_install_packages() {
  local missing=() p
  for p in "${PW_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}
