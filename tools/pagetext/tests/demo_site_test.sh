#!/usr/bin/env bash
# The pages of the demo lyrics sites (scripts/lyrics-site.py) give back, through the program's own
# page text and extraction rule of their base, exactly the text they were made from; and the
# server answers a listed address with the page and anything else with 404.
#   demo_site_test.sh <pagetext> <source root>
set -euo pipefail
pagetext=$1
root=$2
work=$(mktemp -d)
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

python3 "$root/scripts/lyrics-site.py" build "$work/site" >/dev/null
n=0
while IFS=$'\t' read -r site id _artist title text; do
  case "$site" in
    pelmoralyrics) page="$work/site/pelmoralyrics/song-$id.html" base='C:\Quillon\default\' ;;
    lyricvault) page="$work/site/lyricvault/lyrics/$id.html" base='C:\Quillon\lyricvault\' ;;
    *) fail "unknown site $site" ;;
  esac
  [ -f "$page" ] || fail "no page for $title"
  "$pagetext" "$page" --base "$base" --title "$title" >"$work/got.txt"
  # The program's text has CR LF line ends; the sources have LF.
  sed 's/$/\r/' "$root/data/site/texts/$text.txt" >"$work/want.txt"
  cmp -s "$work/got.txt" "$work/want.txt" || fail "$title: $(diff "$work/got.txt" "$work/want.txt" | head -5)"
  n=$((n + 1))
done < <(tr -d '\r' <"$root/data/site/pages.tsv" | tail -n +2)
[ $n -ge 2 ] || fail "pages.tsv lists $n pages"

# Served: a free port, a listed address, an unlisted one.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 "$root/scripts/lyrics-site.py" serve --port "$port" >"$work/server.log" 2>&1 &
server=$!
fetch() {  # fetch <path>: prints the HTTP status, the body into $work/body
  python3 - "$port" "$1" "$work/body" <<'PY'
import sys, time, urllib.request, urllib.error
port, path, out = sys.argv[1:]
for _ in range(100):
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}") as r:
            open(out, "wb").write(r.read()); print(r.status); break
    except urllib.error.HTTPError as e:
        print(e.code); break
    except OSError:
        time.sleep(0.1)
PY
}
[ "$(fetch '/pelmoralyrics/song.php?id=10406')" = 200 ] || fail "the Skye Boat Song page is not served"
"$pagetext" "$work/body" --base 'C:\Quillon\default\' --title 'Skye Boat Song' | grep -q 'Over the sea to Skye' ||
  fail "the served page does not give its lyrics"
[ "$(fetch '/pelmoralyrics/song.php?id=99999')" = 404 ] || fail "an unlisted page is not 404"
echo "demo site pages ok ($n pages)"
