#!/usr/bin/env python3
"""A small sample bookshop on loopback, for `make run` and for trying Zemlik offline.

Usage: sample_bookshop.py [--port N] [--port-file FILE]

Listens on 127.0.0.1 (an ephemeral port unless --port is given), writes the port to
FILE once it accepts connections, and serves, for any year and month asked (the demo
asks for the current one):

  http://www.bookshop.example/comic/comicYYMM_listdate.html   comic release list
  http://www.bookshop.example/bunko/bunkoYYMM_listdate.html   paperback release list
  http://www.booklist.example/review/kurodai/data/booklist/monYY.csv   monthly booklist

The pages are written in code page 932 the way the shop writes them: the list follows
"...件を表示します。", each book is an <li> whose fields are each closed by two
ideographic spaces, the price carries the shop's leading yen sign (byte 0x5C). The
booklist is CSV in code page 932 with CR LF.

It acts as a forward proxy for those hosts: point http_proxy at it
(http_proxy=http://127.0.0.1:PORT) and Zemlik's requests for the shop's host names come
here. Requests in origin form are served by their Host header. Anything else is 404.
"""

import argparse
import http.server
import os
import re
import sys
import urllib.parse

SHOP = "www.bookshop.example"
BOOKLIST = "www.booklist.example"
MONTHS = ["jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"]
GAP = "\u3000\u3000"  # closes every field

COMICS = [
    # day, company, title, author, price, memo
    (5, "講談社", "海辺の図書館　第3巻", "青山ミナト", 450, "新刊"),
    (12, "集英社", "星をかぞえる猫", "小川ひより", 420, ""),
    (19, "小学館", "鉄路のむこう　第1巻", "北村サトシ", 550, "初回限定版あり"),
    (25, "白泉社", "夜明けのパン屋", "森野あん", 460, "完結"),
]

BUNKO = [
    # day, company, category, title, author, price
    (8, "新潮社", "新潮文庫", "古い港町の話", "川端ゆう", 590),
    (15, "講談社", "講談社文庫", "雨の日の探偵", "高木つばさ", 770),
    (22, "角川書店", "角川文庫", "湖畔の手紙", "西野かおる", 660),
]

BOOKLIST_ROWS = [
    ("発売日", "出版社", "書名", "著者", "価格"),
    ("{m}/05", "講談社", "海辺の図書館 3", "青山ミナト", "450"),
    ("{m}/12", "集英社", "星をかぞえる猫", "小川ひより", "420"),
    ("{m}/19", "小学館", "鉄路のむこう 1", "北村サトシ", "550"),
]


def comic_page(year, month):
    items = "".join(
        f"<li>{month:02d}/{day:02d}{GAP}{company}{GAP}{title}{GAP}{author}{GAP}"
        f"\\{price}{GAP}{memo}{GAP}</li>\r\n"
        for day, company, title, author, price, memo in COMICS)
    return page(f"{year}年{month}月発売のコミック", len(COMICS), items)


def bunko_page(year, month):
    items = "".join(
        f"<li>{month:02d}/{day:02d}{GAP}{company}{GAP}{category}{GAP}{title}{GAP}{author}{GAP}"
        f"\\{price}{GAP}\r\n"
        for day, company, category, title, author, price in BUNKO)
    return page(f"{year}年{month}月発売の文庫", len(BUNKO), items)


def page(heading, count, items):
    text = (
        "<html>\r\n<head>\r\n"
        '<meta http-equiv="Content-Type" content="text/html; charset=Shift_JIS">\r\n'
        f"<title>{heading}</title>\r\n</head>\r\n<body>\r\n"
        f"<h1>{heading}</h1>\r\n"
        f"<p>全{count}件中 1～{count}件を表示します。</p>\r\n"
        "<table><tr><td><ul>\r\n"
        f"{items}"
        "</ul></td></tr></table>\r\n"
        "<p>価格は税込です。</p>\r\n</body>\r\n</html>\r\n")
    return text.encode("cp932")


def booklist(month):
    lines = (",".join(field.format(m=f"{month:02d}") for field in row) for row in BOOKLIST_ROWS)
    return "".join(line + "\r\n" for line in lines).encode("cp932")


def answer(host, path):
    """(content type, body) for a host and a path, or None."""
    match = re.fullmatch(r"/(comic/comic|bunko/bunko)(\d\d)(\d\d)_listdate\.html", path)
    if host == SHOP and match:
        year, month = 2000 + int(match.group(2)), int(match.group(3))
        if 1 <= month <= 12:
            make = comic_page if match.group(1) == "comic/comic" else bunko_page
            return "text/html; charset=Shift_JIS", make(year, month)
    match = re.fullmatch(r"/review/kurodai/data/booklist/([a-z]{3})(\d\d)\.csv", path)
    if host == BOOKLIST and match and match.group(1) in MONTHS:
        return "text/csv; charset=Shift_JIS", booklist(MONTHS.index(match.group(1)) + 1)
    return None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "SampleBookshop/1.0"

    def do_GET(self):
        target = urllib.parse.urlsplit(self.path)
        if target.scheme:  # absolute form: a request for us as a proxy
            host, path = target.hostname or "", target.path
        else:
            host, path = (self.headers.get("Host") or "").split(":")[0], target.path
        found = answer(host.lower(), path)
        if found is None:
            self.reply(404, "text/plain", b"not found\n")
        else:
            self.reply(200, *found)

    def reply(self, status, content_type, body):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, fmt, *args):
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    port = server.server_address[1]
    if args.port_file:
        temporary = args.port_file + ".tmp"
        with open(temporary, "w") as f:
            f.write(f"{port}\n")
        os.replace(temporary, args.port_file)
    else:
        print(f"sample bookshop on http://127.0.0.1:{port}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
