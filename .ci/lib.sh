# Shared by the CI scripts, which source it from the top of the repository.
#
#   install_missing PACKAGE...   installs those Debian packages that are not
#                                installed yet (apt-get, through sudo)
#   stage NAME COMMAND...        runs COMMAND as the stage NAME: prints the
#                                name first and the stage's time at its end;
#                                a failing stage ends the script (set -e)

# CI runs as root, where sudo may be missing; the README's commands call it
# only where it exists, the CI scripts through this stand-in.
if [ "$(id -u)" = 0 ] && ! command -v sudo >/dev/null 2>&1; then
  sudo() { "$@"; }
fi
export DEBIAN_FRONTEND=noninteractive

install_missing() {
  local package missing=()
  for package in "$@"; do
    # "ii": installed (for some architecture); dpkg still knows removed ones.
    grep -q '^ii' <<<"$(dpkg-query -W -f '${db:Status-Abbrev}\n' \
      "$package" 2>/dev/null)" || missing+=("$package")
  done
  [ "${#missing[@]}" -gt 0 ] || return 0
  echo "== installing ${missing[*]}"
  sudo apt-get update -qq
  sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# The stage running now, for a message when the script stops in it.
current_stage=""

stage() {
  local name="$1" started=$SECONDS
  shift
  current_stage="$name"
  echo "== $name"
  "$@"
  echo "== $name: $((SECONDS - started)) s"
  current_stage=""
}
