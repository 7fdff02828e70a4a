#!/bin/sh
# The layer check: reads every #include line of src/, tools/ and include/
# and fails (exit 1, one line per fault) when
#  - a folder includes a header of a layer above its own or beside it,
#  - the folders include each other in a loop,
#  - an operating-system header appears outside src/platform, src/display,
#    src/sound and the player's front ends,
#  - a header path names a folder the order below does not know (a new
#    folder gets its place here first).
# See ARCHITECTURE.md for the layers. Usage: scripts/check-includes.sh [ROOT]
set -eu
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# folder rank: a folder includes only folders of a lower rank (and public
# headers, rank 0). Folders of one rank are siblings and never include each
# other. The writer (encoder) sits above video and audio, below the tools,
# beside everything else: its row lists what it may include.
layers='
include  0
platform 1
base     2
logo     2
video    3
audio    3
input    3
engine   4
sound    5
convert  6
display  7
player   8
libvorn  8
gst      8
tools    9
'
writer_may='include platform base video audio'

files=$(find src tools include -type f \( -name '*.h' -o -name '*.cc' -o -name '*.c' \) | sort)
# shellcheck disable=SC2086
awk -v layers="$layers" -v writer_may="$writer_may" -v graph="${TMPDIR:-/tmp}/vorn-layers.$$" '
BEGIN {
  n = split(layers, w, /[ \n]+/)
  for (i = 1; i < n; i++) if (w[i] != "") { rank[w[i]] = w[i + 1]; i++ }
  rank["writer"] = -1
  split(writer_may, m, " ")
  for (i in m) writer_ok[m[i]] = 1
  os = "^(windows|winresrc|mmsystem|dsound|ddraw|shellapi|io|SDL|SDL_[a-z_]+|unistd|pthread|sched|spawn|fcntl|dlfcn|termios|poll)\\.h$|^(sys|SDL2|linux)/"
  bad = 0
}
function folder_of_file(path,   p) {
  split(path, p, "/")
  if (p[1] == "tools") return "tools"
  if (p[1] == "include") return "include"
  return p[2]
}
function os_allowed(path) {
  return path ~ /^src\/(platform|display|sound)\// ||
         path ~ /^src\/player\/(front|app|sdl|posix|win32)\// || path ~ /^src\/gst\//
}
function is_file(path,   line, found) {
  found = (getline line < path) >= 0
  close(path)
  return found
}
function is_dir(path) {
  if (!(path in dir_cache)) dir_cache[path] = system("test -d \"" path "\"") == 0
  return dir_cache[path]
}
function fault(text) { print FILENAME ":" FNR ": " text; bad = 1 }
/^[ \t]*#[ \t]*include[ \t]*</ {
  header = $0
  sub(/^[^<]*</, "", header); sub(/>.*$/, "", header)
  if (header ~ os && !os_allowed(FILENAME))
    fault("operating-system header <" header "> outside platform, display, sound and the front ends")
  next
}
/^[ \t]*#[ \t]*include[ \t]*"/ {
  header = $0
  sub(/^[^"]*"/, "", header); sub(/".*$/, "", header)
  if (header !~ /\//) next  # beside the including file
  from = folder_of_file(FILENAME)
  if (from != "tools" && from != "include" && is_file("src/" from "/" header)) next  # inside its folder
  split(header, h, "/")
  to = h[1]
  if (to == "vorn") to = "include"
  if (!(to in rank) && is_dir("tools/" to)) to = "tools"  # vorntool/, synth/ ...
  if (to == from) next
  if (!(from in rank)) { fault("folder " from " has no place in the layer order"); next }
  if (!(to in rank)) { fault(from " includes " header ": folder " to " has no place in the layer order"); next }
  print from, to >> graph
  if (from == "writer") {
    if (!(to in writer_ok)) fault("writer includes " header ": " to " is not below the writer")
  } else if (to == "writer") {
    if (from != "tools") fault(from " includes " header ": the writer is used only by the tools")
  } else if (rank[to] > rank[from]) {
    fault(from " includes " header ": " to " is a layer above " from)
  } else if (rank[to] == rank[from]) {
    fault(from " includes " header ": " to " is beside " from ", not below it")
  }
}
END { exit bad }
' $files || status=1

# Loops between folders, whatever their ranks.
if [ -s "${TMPDIR:-/tmp}/vorn-layers.$$" ]; then
  if ! sort -u "${TMPDIR:-/tmp}/vorn-layers.$$" | tsort >/dev/null 2>"${TMPDIR:-/tmp}/vorn-loops.$$"; then
    echo "include loop between folders:"
    grep -v 'input contains a loop' "${TMPDIR:-/tmp}/vorn-loops.$$" | sed 's/^tsort: /  /'
    status=1
  fi
fi
rm -f "${TMPDIR:-/tmp}/vorn-layers.$$" "${TMPDIR:-/tmp}/vorn-loops.$$"
if [ "${status:-0}" -ne 0 ]; then
  echo "check-includes: layer rules broken (see ARCHITECTURE.md)" >&2
  exit 1
fi
echo "check-includes: $(echo "$files" | wc -l) files, no upward include, no loop"
