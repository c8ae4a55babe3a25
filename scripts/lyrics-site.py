#!/usr/bin/env python3
"""The demo bases' lyrics web sites, small and local.

    scripts/lyrics-site.py serve [--port N]     serve the pages on 127.0.0.1 until killed
    scripts/lyrics-site.py build DIR            write the pages as files under DIR

Some songs of the demo bases have no text in the shared lyric table; the program then loads the
song's page from the address template of its base ("Url" in the base's descriptor) and cuts the
lyrics out of the page text. These pages are laid out the way the extraction rule of each base
expects its site's pages ("pelmoralyrics" for the base "default", "lyricvault" for the base of
that name), built from data/site/pages.tsv and the texts in data/site/texts. Addresses nobody
listed answer 404, as a real site would for a page it does not have.
"""
import argparse
import html
import http.server
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SITE = os.path.join(ROOT, "data", "site")
DEFAULT_PORT = 8719


def paragraphs(text):
    """The lyric text as HTML paragraphs: a stanza a paragraph, its lines broken by <br>."""
    stanzas = [s for s in text.replace("\r\n", "\n").strip("\n").split("\n\n") if s.strip()]
    return "\n".join("<p>" + "<br>\n".join(html.escape(line) for line in s.split("\n")) + "</p>" for s in stanzas)


def pelmora_page(artist, title, text):
    # The title stands three times before the lyrics, each time with more than eight characters
    # after it (the site's pages are read by counting the title's occurrences and skipping eight
    # characters past each), and the error note stands after them.
    t, a = html.escape(title), html.escape(artist)
    return f"""<!DOCTYPE html>
<html><head><meta charset="windows-1252"><title>{t} Lyrics - Pelmora Lyrics</title></head>
<body>
<div><a href="/pelmoralyrics/">Pelmora Lyrics</a> &gt; {a} &gt; {t} &gt; words</div>
<h1>{t} - {a}</h1>
<p>{t} Lyrics</p>
{paragraphs(text)}
<p>If you find some errors in these lyrics, please let us know.</p>
<p>Pelmora Lyrics, songs from A to Z.</p>
</body></html>
"""


def lyricvault_page(artist, title, text):
    t, a = html.escape(title), html.escape(artist)
    return f"""<!DOCTYPE html>
<html><head><meta charset="windows-1252"><title>{t} - Lyric Vault</title></head>
<body>
<h1>Lyric Vault</h1>
<p>{a} - {t} lyrics:</p>
{paragraphs(text)}
<p>Print these lyrics</p>
<p>More by {a}</p>
</body></html>
"""


def pages():
    """Address (path and query) -> page text, for every row of pages.tsv."""
    result = {}
    with open(os.path.join(SITE, "pages.tsv"), encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    for site, page_id, artist, title, text_name in rows[1:]:
        with open(os.path.join(SITE, "texts", text_name + ".txt"), encoding="utf-8") as f:
            text = f.read()
        if site == "pelmoralyrics":
            result[f"/pelmoralyrics/song.php?id={page_id}"] = pelmora_page(artist, title, text)
        elif site == "lyricvault":
            result[f"/lyricvault/lyrics/{page_id}.html"] = lyricvault_page(artist, title, text)
        else:
            raise SystemExit(f"pages.tsv: unknown site {site}")
    return result


def build(folder):
    for address, page in pages().items():
        name = address.lstrip("/").replace("song.php?id=", "song-") + ("" if address.endswith(".html") else ".html")
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="cp1252", newline="\n") as f:
            f.write(page)
        print(path)


def serve(port):
    site = {k: v.encode("cp1252") for k, v in pages().items()}

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            body = site.get(self.path)
            if body is None:
                self.send_error(404)
                return
            self.send_response(200)
            self.send_header("Content-Type", "text/html; charset=windows-1252")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    print(f"lyrics sites on http://127.0.0.1:{port}/", flush=True)
    server.serve_forever()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    s = sub.add_parser("serve")
    s.add_argument("--port", type=int, default=DEFAULT_PORT)
    b = sub.add_parser("build")
    b.add_argument("folder")
    args = parser.parse_args()
    if args.command == "serve":
        serve(args.port)
    else:
        build(args.folder)


if __name__ == "__main__":
    sys.exit(main())
