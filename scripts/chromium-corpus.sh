#!/usr/bin/env bash
# scripts/chromium-corpus.sh : renders every page of web/tests/corpus with headless Chromium and
# saves its document.body.innerText beside it as <page>.txt (UTF-8, LF line ends), the record the
# page text test compares ours with. Run by hand after changing the corpus (not in CI); installs
# Debian's chromium when it is missing (apt-get install --no-install-recommends chromium), which is
# why it stays out of scripts/setup.sh. Arguments: pages to record (default: all of the corpus).
# A page's linked style sheets are not copied along, as the corpus test reads pages without them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corpus="$root/web/tests/corpus"

if ! command -v chromium >/dev/null; then
  sudo_cmd=()
  if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends chromium
fi

pages=("$@")
if [ ${#pages[@]} = 0 ]; then pages=("$corpus"/*.html); fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Runs once the whole page is parsed: replaces the document with its body text, base64-encoded so
# that no character is lost on the way out through --dump-dom.
reader='<script>(function(){var t=document.body?document.body.innerText:"";'
reader+='var b=btoa(unescape(encodeURIComponent(t)));'
reader+='document.documentElement.innerHTML="<body><pre id=quillon-text>"+b+"</pre></body>";})();</script>'

for page in "${pages[@]}"; do
  name=$(basename "$page" .html)
  cp "$page" "$work/$name.html"
  printf '%s' "$reader" >>"$work/$name.html"
  chromium --headless --no-sandbox --disable-gpu --user-data-dir="$work/profile" \
    --dump-dom "file://$work/$name.html" 2>/dev/null >"$work/$name.dom"
  python3 - "$work/$name.dom" "$corpus/$name.txt" <<'PY'
import base64, re, sys
dom = open(sys.argv[1], encoding="utf-8", errors="replace").read()
m = re.search(r'<pre id="quillon-text">([A-Za-z0-9+/=]*)</pre>', dom)
if not m:
    sys.exit("no text for " + sys.argv[1])
open(sys.argv[2], "wb").write(base64.b64decode(m.group(1)))
PY
  echo "$name: $(wc -l <"$corpus/$name.txt") lines"
done
