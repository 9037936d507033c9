#!/usr/bin/env bash
# The README's host example and every command of the documentation, run as written: the example is saved as
# host.cpp in a scratch folder laid out like the checkout after `./run demo` (every top-level entry of the
# checkout, and build-release/bin/ as this build's binaries), and every line of every `sh` block of README.md
# and docs/*.md runs there and must exit with 0. A command that would collide with the checkout's own files
# (`-o host` beside the host/ folder) fails here as it would there. Links between the documents must lead to files
# that exist.
# Usage: check-readme.sh SOURCE_DIR BIN_DIR
set -euo pipefail
src=$1
bin=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Folders are real folders here (of links to their entries), so that a name that collides with one fails.
for entry in "$src"/*; do
  name=$(basename "$entry")
  case $name in
    build*) ;; # build folders of the checkout: this build stands in for build-release
    *)
      if [ -d "$entry" ]; then
        mkdir "$scratch/$name"
        for inner in "$entry"/*; do ln -s "$inner" "$scratch/$name/"; done
      else
        ln -s "$entry" "$scratch/$name"
      fi
      ;;
  esac
done
mkdir -p "$scratch/build-release"
ln -s "$bin" "$scratch/build-release/bin"

# The host example: the README's first C++ block.
awk '/^```cpp$/ { inside = 1; next } /^```/ { if (inside) exit } inside' "$src/README.md" >"$scratch/host.cpp"
if [ ! -s "$scratch/host.cpp" ]; then
  echo "README.md holds no C++ block for the host example" >&2
  exit 1
fi

failures=0
commands=0
cd "$src"
for doc in README.md docs/*.md; do
  mapfile -t lines < <(awk '/^```sh$/ { inside = 1; next } /^```/ { inside = 0 } inside' "$doc")
  for line in "${lines[@]}"; do
    [[ -z $line || $line == \#* ]] && continue
    commands=$((commands + 1))
    # The variables a reader's shell may hold do not decide the result; the line sets what it needs.
    if output=$(cd "$scratch" && env -u VXCAM_SIM_CONFIG -u VXCAM_TRANSPORTS -u VXCAM_SIM_TRACE -u DISPLAY \
      -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM bash -c "$line" 2>&1); then
      # The example must show the frames it asked for, not only end well.
      if [[ $line == *./host-example* ]] && [ "$(grep -c '^frame ' <<<"$output")" -lt 5 ]; then
        echo "FAILED ($doc): $line"$'\n'"  printed fewer than 5 frames:"$'\n'"$output" >&2
        failures=$((failures + 1))
      else
        echo "ok ($doc): $line"
      fi
    else
      echo "FAILED ($doc, exit code $?): $line"$'\n'"$output" >&2
      failures=$((failures + 1))
    fi
  done
done
# Every link from one document to a file of the checkout leads to a file that exists.
links=0
for doc in README.md docs/*.md sdk/README.md; do
  while IFS= read -r target; do
    target=${target%%#*}
    [[ -z $target || $target == *://* || $target == mailto:* ]] && continue
    links=$((links + 1))
    if [ ! -e "$(dirname "$doc")/$target" ]; then
      echo "FAILED ($doc): the link to $target leads nowhere" >&2
      failures=$((failures + 1))
    fi
  done < <(grep -o '](\([^)]*\))' "$doc" | sed 's/^](//; s/)$//')
done
echo "$links links followed"
echo "$commands commands run, $failures failed"
[ "$commands" -gt 0 ] && [ "$failures" -eq 0 ]
