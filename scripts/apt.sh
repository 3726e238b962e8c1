# Shared apt helpers for the scripts (sourced, not run). They install only
# what is missing and need root (or sudo) only for that.
#
#   apt_install PACKAGE...   installs those not installed yet
#   apt_update               apt-get update, once per script run (apt_updated=""
#                            asks for another, e.g. after a new architecture)
#   apt_add_architecture A   lets apt install packages of architecture A
#   apt_source_entries       makes sure apt knows the source packages of the
#                            distribution's own archives (see below)

APT_SUDO=""
[ "$(id -u)" -ne 0 ] && APT_SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# Another apt run on the same machine holds the lock for a while: wait for it
# instead of failing.
APT_OPTS=(-o DPkg::Lock::Timeout=600)
apt_updated=""

apt_update() {
  if [ -z "$apt_updated" ]; then
    $APT_SUDO apt-get "${APT_OPTS[@]}" update -qq
    apt_updated=1
  fi
}

apt_install() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  apt_update
  $APT_SUDO apt-get "${APT_OPTS[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

apt_add_architecture() {
  dpkg --print-foreign-architectures | grep -qx "$1" && return 0
  $APT_SUDO dpkg --add-architecture "$1"
  apt_updated=""
}

# The machine's binary entries for its own release (suites named after the
# release's codename: the release, its updates, its security archive), each
# turned into its source twin: deb822 stanzas with "Types: deb-src", one-line
# entries with "deb-src". The archives are the ones the machine already uses;
# other vendors' entries (which may publish no sources) are left alone.
apt_src_twins_deb822() {  # codename, files...
  local codename=$1
  shift
  awk -v codename="$codename" '
    function flush() {
      if (n > 0 && binary && ours && enabled) {
        print "Types: deb-src"
        for (i = 1; i <= n; i++) print kept[i]
        print ""
      }
      n = 0; binary = 0; ours = 0; enabled = 1; keep = 0
    }
    BEGIN { flush() }
    FNR == 1 { flush() }
    /^[ \t]*$/ { flush(); next }
    /^#/ { next }
    /^[ \t]/ { if (keep) kept[++n] = $0; next }  # a field continued (an inline key)
    {
      key = tolower(substr($0, 1, index($0, ":") - 1))
      value = substr($0, index($0, ":") + 1)
      keep = 1
      if (key == "types") {
        keep = 0
        if (value ~ /(^|[ \t])deb([ \t]|$)/) binary = 1
      } else if (key == "architectures") {
        keep = 0
      } else if (key == "enabled") {
        keep = 0
        if (tolower(value) ~ /no/) enabled = 0
      } else if (key == "suites") {
        if (value ~ ("(^|[ \t])" codename "([-/][^ \t]*)?([ \t]|$)")) ours = 1
      }
      if (keep) kept[++n] = $0
    }
    END { flush() }' "$@"
}

apt_src_twins_oneline() {  # codename, files...
  local codename=$1
  shift
  cat "$@" | grep -E "^[[:space:]]*deb[[:space:]].*[[:space:]]$codename([-/][^[:space:]]*)?[[:space:]]" |
    sed -E 's/^[[:space:]]*deb[[:space:]]/deb-src /' || true
}

# (Read whole first: grep -q ending the pipe early would fail it under pipefail.)
apt_knows_source() {
  local out
  out=$(apt-cache showsrc "$1" 2>/dev/null) || return 1
  grep -q '^Version: ' <<<"$out"
}

# apt-cache showsrc finds nothing until a deb-src entry exists; a fresh
# Debian machine has none. Adds the twins of the machine's own entries (in
# ogmdecaps-src.sources / ogmdecaps-src.list) and reads the new indexes.
apt_source_entries() {
  local probe=$1  # a source package every Debian archive carries
  apt_knows_source "$probe" && return 0
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { echo "no VERSION_CODENAME in /etc/os-release" >&2; return 1; }
  local deb822=() oneline=() f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "${f##*/}" != ogmdecaps-src.sources ] && deb822+=("$f")
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && [ "${f##*/}" != ogmdecaps-src.list ] && oneline+=("$f")
  done
  local stanzas="" lines=""
  [ ${#deb822[@]} -gt 0 ] && stanzas=$(apt_src_twins_deb822 "$codename" "${deb822[@]}")
  [ ${#oneline[@]} -gt 0 ] && lines=$(apt_src_twins_oneline "$codename" "${oneline[@]}")
  if [ -z "$stanzas" ] && [ -z "$lines" ]; then
    echo "no apt 'deb' entry for $codename to derive a 'deb-src' entry from" >&2
    return 1
  fi
  echo "Adding deb-src entries beside the machine's own $codename entries"
  if [ -n "$stanzas" ]; then
    printf '%s\n' "$stanzas" | $APT_SUDO tee /etc/apt/sources.list.d/ogmdecaps-src.sources >/dev/null
  fi
  if [ -n "$lines" ]; then
    printf '%s\n' "$lines" | $APT_SUDO tee /etc/apt/sources.list.d/ogmdecaps-src.list >/dev/null
  fi
  apt_updated=""
  apt_update
  apt_knows_source "$probe" ||
    { echo "apt still knows no source package $probe" >&2; return 1; }
}
