# shellcheck shell=bash
# Installs the Debian packages named as arguments when any is missing; meant
# to be sourced. An architecture suffix such as wine32:i386 adds that foreign
# architecture first. Uses sudo only when not run as root; does nothing, and
# asks for nothing, when every package is there already.

ensure_packages() {
  local missing=() package status
  for package in "$@"; do
    status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
    if [[ "$status" != *"install ok installed"* ]]; then
      missing+=("$package")
    fi
  done
  [ "${#missing[@]}" -eq 0 ] && return 0

  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
  fi
  local update_needed=0
  for package in "${missing[@]}"; do
    case "$package" in
      *:*)
        local architecture="${package##*:}"
        if [ "$architecture" != "$(dpkg --print-architecture)" ] &&
          ! dpkg --print-foreign-architectures | grep -qx "$architecture"; then
          "${sudo[@]}" dpkg --add-architecture "$architecture"
          update_needed=1
        fi
        ;;
    esac
  done
  # A fresh machine has no package lists yet; an old list may miss the
  # versions that are current on the mirror.
  if [ "$update_needed" -eq 1 ] || ! compgen -G '/var/lib/apt/lists/*_Packages' >/dev/null; then
    "${sudo[@]}" apt-get update
  fi
  echo "Installing: ${missing[*]}"
  if ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"; then
    # The lists may be out of date; one fresh update is worth a second try.
    "${sudo[@]}" apt-get update
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
  fi
}
