#!/usr/bin/env bash
# Prints the folder that holds PipeWire's ALSA plugin (libasound_module_pcm_pipewire.so), through
# which a GNOME desktop routes ALSA programs to its sound server. Where the package is installed,
# its own folder; otherwise the package of the installed PipeWire's version, downloaded once and
# unpacked into a cache of ours. It is never installed: on a machine whose ALSA default goes
# elsewhere, that would change where every ALSA program plays.
#   pipewire-alsa.sh        prints the folder, or fails with the reason
set -euo pipefail

triplet=$(gcc -dumpmachine 2>/dev/null || dpkg-architecture -qDEB_HOST_MULTIARCH)
system_dir=/usr/lib/$triplet/alsa-lib
if [[ -e $system_dir/libasound_module_pcm_pipewire.so ]]; then
  echo "$system_dir"
  exit 0
fi

# The plugin must match the PipeWire client library it loads.
version=$(dpkg-query -W -f='${Version}' libpipewire-0.3-0 2>/dev/null) ||
  { echo "pipewire-alsa.sh: libpipewire-0.3-0 is not installed" >&2; exit 1; }
cache=${TONVALE_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tonvale}/pipewire-alsa-${version//[^A-Za-z0-9.+-]/_}
plugin_dir=$cache/usr/lib/$triplet/alsa-lib
if [[ ! -e $plugin_dir/libasound_module_pcm_pipewire.so ]]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && apt-get download -qq "pipewire-alsa=$version" >/dev/null 2>&1) ||
    { echo "pipewire-alsa.sh: cannot download pipewire-alsa $version (apt-get download)" >&2; exit 1; }
  dpkg-deb -x "$work"/pipewire-alsa_*.deb "$work/root"
  mkdir -p "$(dirname "$cache")"
  # Tests side by side may unpack it at once: the first rename wins, the others find it there.
  mv -T "$work/root" "$cache" 2>/dev/null || true
  [[ -e $plugin_dir/libasound_module_pcm_pipewire.so ]] ||
    { echo "pipewire-alsa.sh: the package holds no plugin at $plugin_dir" >&2; exit 1; }
fi
echo "$plugin_dir"
