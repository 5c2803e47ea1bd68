#!/usr/bin/python3
"""Local stand-in of the cloud disk: the public resources API, the download host and the storage
host, with switchable faults. Standard library only. See README.md beside this file."""

import argparse
import base64
import hashlib
import html
import http.server
import json
import os
import posixpath
import shutil
import re
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import zlib
from datetime import datetime, timezone
from http import HTTPStatus

CHUNK = 64 * 1024
LINK_HOSTS = ("disk.yandex.ru", "yadi.sk")
NOT_FOUND_BODY = {
    "message": "Не удалось найти запрошенный ресурс.",
    "description": "Resource not found.",
    "error": "DiskNotFoundError",
}

# The small page a redirect of the download and storage hosts carries.
FOUND_PAGE = b"<html><head><title>302 Found</title></head><body>Found</body></html>"

# Every switch with its default. Values given on the command line become the state that
# /_control/reset returns to.
SWITCHES = {
    "rate_limit": 0,                  # bytes per second per connection for file bodies; 0 = none
    "ignore_range": False,            # answer ranged GETs with 200 and the whole file
    "range_status": {},               # {"<start byte>" | "part<i>": status} for that range
    "parts": 4,                       # part count that "part<i>" keys assume
    "close_after": None,              # N, or {"<start byte>" | "part<i>": N}: close after N body bytes
                                      # ("part<i>": every request starting inside part i)
    "close_once": {},                 # {"part<i>": N}: the first request of part i only, then whole
    "overlong_body": {},              # {"<start byte>" | "part<i>": N}: N bytes past the Content-Range
    "replaced": False,                # GETs not starting at 0 serve another file of the same size
    "head_status": None,              # status of HEAD on the storage host (e.g. 405)
    "listing_fields": {},             # {"size" | "sha256" | ...: value} in file items; null removes it
    "listing_fields_of": {},          # {"<file name>": {field: value}}: the same for that file only
    "listing_limit": 20,              # page size when the request gives no "limit"
    "paging_ignores_offset": False,   # every page is the first one, whatever "offset" asks
    "listing_depth": 0,               # N > 0: the answer is N nested arrays inside "items"
    "redirect_to_http": False,        # the direct link sends an https request on to plain http
    "delay_ms": 0,                    # wait before answering (API, download and storage hosts)
    "encoding": None,                 # "gzip" | "deflate": compress listing and file GET answers
    "charset": {},                    # {"<file name>": "windows-1251"} -> text/plain; charset=...
    "content_type": {},               # {"<file name>": "<whole Content-Type value>"}
    "redirects": 0,                   # extra 302 hops of the direct link, each needing a cookie
    "head_length": None,              # "none" | "zero": HEAD without / with zero Content-Length
    "listing_status": None,           # status of the API answer (404 gives the not-found body)
    "listing_body": None,             # raw text of the API answer
    "listing_content_type": None,     # Content-Type of the API answer
    "dirs_first": False,              # list folders before files
    "download_status": None,          # the direct link itself answers this status (HTML page)
    "redirect_location_missing": False,  # the direct link answers 302 without Location
    "times": {},                      # {"<switch>": N}: listing_status, head_status, download_status and
                                      # range_status act on their first N requests only
    "retry_after": None,              # "Retry-After" value on the error answers of those switches
    "redirect_cut_once": {},          # {"<start byte>" | "part<i>": N}: the first 302 of the direct link
                                      # for that range has a 300-byte page, reset after N bytes
    "redirect_stall_once": {},        # the same, but the page stops after N bytes and the connection
                                      # stays silent (up to 90 s, until the client leaves)
    "wrong_range_once": {},           # {"part<i>": S}: the first 206 of that range serves its length from
                                      # byte S under a Content-Range that says so
    "length_plus_once": {},           # {"part<i>": N}: the first 206 of that range announces N bytes more
                                      # than it sends, then closes (chunked or close-delimited: keeps silent instead)
    "framing": "length",              # "length" | "close" | "chunked": how file GET bodies are delimited
    "trickle_once": {},               # {"part<i>": N}: the first request of that range sends N bytes,
                                      # then one byte every 200 ms
    "file_status": {},                # {"<file name>": status}: the direct link of that file answers it
    "damage_at": {},                  # {"<byte offset in the file>": N}: the first N GET answers that carry
                                      # that byte send it inverted (0: every answer)
}


def iso_time(ts):
    return datetime.fromtimestamp(int(ts), timezone.utc).strftime("%Y-%m-%dT%H:%M:%S+00:00")


def mime_of(name):
    ext = posixpath.splitext(name)[1].lower()
    return {
        ".txt": ("text/plain", "document"),
        ".html": ("text/html", "document"),
        ".htm": ("text/html", "document"),
        ".json": ("application/json", "document"),
        ".zip": ("application/zip", "compressed"),
        ".exe": ("application/x-dosexec", "executable"),
        ".png": ("image/png", "image"),
        ".jpg": ("image/jpeg", "image"),
    }.get(ext, ("application/octet-stream", "data"))


def compress(data, encoding):
    if encoding == "gzip":
        co = zlib.compressobj(6, zlib.DEFLATED, 31)
    elif encoding == "deflate":
        co = zlib.compressobj(6, zlib.DEFLATED, 15)
    else:
        return data
    return co.compress(data) + co.flush()


def dumps(value):
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def b64token(text):
    return base64.urlsafe_b64encode(text.encode("utf-8")).decode("ascii")


def unb64token(token):
    token += "=" * (-len(token) % 4)
    return base64.urlsafe_b64decode(token.encode("ascii")).decode("utf-8")


def part_bounds(key, size, parts):
    """(first, last) byte of part i for a "part<i>" key, the part count taken as parts; None
    for any other key."""
    if not key.startswith("part"):
        return None
    try:
        index = int(key[4:])
    except ValueError:
        return -1, -2  # no part: matches nothing
    step = size // max(1, parts)
    first = index * step
    return first, size - 1 if index == max(1, parts) - 1 else first + step - 1


def range_key_covers(key, start, size, parts):
    """Like range_key_matches, but "part<i>" also takes a request that resumes inside part i."""
    bounds = part_bounds(str(key), size, parts)
    if bounds is not None:
        return bounds[0] <= start <= bounds[1]
    return range_key_matches(key, start, size, parts)


def range_key_matches(key, start, size, parts):
    bounds = part_bounds(str(key), size, parts)
    if bounds is not None:
        return start == bounds[0]
    try:
        return int(key) == start
    except ValueError:
        return False


class Standin:
    def __init__(self, root, switches):
        self.root = os.path.abspath(root)
        self.base_switches = dict(SWITCHES)
        self.base_switches.update(switches)
        self.lock = threading.Lock()
        self.switches = json.loads(json.dumps(self.base_switches))
        self.log = []
        self.hash_cache = {}
        self.ports = {}
        self.seen = set()
        self.used = {}
        # (download host, storage host) the direct links name instead of 127.0.0.1 and localhost;
        # the system's hosts file sends them here (--named-hosts).
        self.hosts = None

    # --- switches and log ---
    def config(self):
        with self.lock:
            return json.loads(json.dumps(self.switches))

    def merge(self, values):
        unknown = [k for k in values if k not in SWITCHES]
        if unknown:
            raise ValueError("unknown switch: " + ", ".join(sorted(unknown)))
        with self.lock:
            for k, v in values.items():
                self.switches[k] = SWITCHES[k] if v is None else v

    def reset(self):
        with self.lock:
            self.switches = json.loads(json.dumps(self.base_switches))
            self.log = []
            self.seen = set()
            self.used = {}

    def spend(self, switch):
        """True while the switch still acts: always, unless "times" limits it and it has used them."""
        with self.lock:
            limit = (self.switches.get("times") or {}).get(switch)
            if limit is None:
                return True
            used = self.used.get(switch, 0)
            if used >= int(limit):
                return False
            self.used[switch] = used + 1
            return True

    def damage_now(self, offset, times):
        """True while the byte at offset is still to be damaged: every time for times 0, else the
        first times answers that carry it."""
        with self.lock:
            key = "damage " + str(offset)
            used = self.used.get(key, 0)
            if times and used >= times:
                return False
            self.used[key] = used + 1
            return True

    def first_time(self, what):
        """True the first time it is asked about what since the last reset."""
        with self.lock:
            if what in self.seen:
                return False
            self.seen.add(what)
            return True

    def record(self, entry):
        with self.lock:
            self.log.append(entry)

    def log_json(self):
        with self.lock:
            return dumps(self.log)

    # --- the served folders ---
    def folder_dir(self, folder_id):
        if not folder_id or "/" in folder_id or "\\" in folder_id or folder_id in (".", ".."):
            return None
        path = os.path.join(self.root, folder_id)
        return path if os.path.isdir(path) else None

    def public_key_of(self, folder_id):
        return base64.b64encode(hashlib.sha512(folder_id.encode("utf-8")).digest()).decode("ascii")

    def folder_of_key(self, key):
        """The folder id named by a public link, a bare id or the folder's public key."""
        key = key.strip()
        candidates = []
        parsed = urllib.parse.urlsplit(key)
        if parsed.scheme in ("http", "https") and parsed.netloc:
            parts = parsed.path.rstrip("/").split("/")
            if len(parts) >= 3 and parts[-2] == "d":
                candidates.append(parts[-1])
        else:
            candidates.append(key)
        for c in candidates:
            if self.folder_dir(c):
                return c
        try:
            for name in os.listdir(self.root):
                if os.path.isdir(os.path.join(self.root, name)) and self.public_key_of(name) == key:
                    return name
        except OSError:
            pass
        return None

    def hashes(self, path):
        st = os.stat(path)
        cache_key = (path, st.st_size, st.st_mtime_ns)
        with self.lock:
            hit = self.hash_cache.get(cache_key)
        if hit:
            return hit
        md5, sha = hashlib.md5(), hashlib.sha256()
        with open(path, "rb") as f:
            while True:
                block = f.read(1 << 20)
                if not block:
                    break
                md5.update(block)
                sha.update(block)
        result = (md5.hexdigest(), sha.hexdigest())
        with self.lock:
            self.hash_cache[cache_key] = result
        return result


def safe_rel(path):
    """A relative path inside a folder ("a/b.txt"), or None when it would leave it."""
    parts = [p for p in path.replace("\\", "/").split("/") if p not in ("", ".")]
    if not parts or any(p == ".." for p in parts):
        return None
    return "/".join(parts)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body leave in separate writes; without this a short body waits for the
    # client's delayed acknowledgement of the headers (some 40 ms on Linux) on a kept-alive
    # connection, which no real server makes its clients wait.
    disable_nagle_algorithm = True
    server_version = "nginx"
    sys_version = ""

    def version_string(self):
        return "nginx"

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("standin: " + (fmt % args) + "\n")

    @property
    def state(self):
        return self.server.state

    def do_GET(self):
        self.dispatch("GET")

    def do_HEAD(self):
        self.dispatch("HEAD")

    def do_POST(self):
        self.dispatch("POST")

    def do_DELETE(self):
        self.dispatch("DELETE")

    # --- plumbing ---
    def dispatch(self, method):
        self.method = method
        url = urllib.parse.urlsplit(self.path)
        self.url_path = urllib.parse.unquote(url.path)
        self.query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        self.entry = None
        try:
            if url.path.startswith("/_control/"):
                return self.control(url.path[len("/_control/"):])
            headers = {}
            for k, v in self.headers.items():
                headers[k] = headers[k] + ", " + v if k in headers else v
            self.entry = {
                "method": method,
                "path": self.path,
                "host": self.headers.get("Host", ""),
                "scheme": self.server.scheme,
                "headers": headers,
                "time": round(time.time(), 4),
            }
            self.state.record(self.entry)
            self.cfg = self.state.config()
            if self.cfg["delay_ms"] and not url.path.startswith("/_test/"):
                time.sleep(self.cfg["delay_ms"] / 1000.0)
            if url.path == "/v1/disk/public/resources":
                return self.listing()
            if url.path.startswith("/disk/"):
                return self.direct_link(url.path)
            if url.path.startswith("/_hop/"):
                return self.hop(url.path)
            if url.path.startswith("/rdisk/"):
                return self.storage(url.path)
            if url.path.startswith("/_test/"):
                return self.test_endpoint(url.path[len("/_test/"):])
            self.send_body(404, b"<html><body>Not Found</body></html>", "text/html")
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            self.close_connection = True

    def param(self, name, default=None):
        values = self.query.get(name)
        return values[0] if values else default

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        data = b""
        while len(data) < length:
            block = self.rfile.read(length - len(data))
            if not block:
                break
            data += block
        return data

    def status_line(self, code, reason=None):
        if reason is None:
            try:
                reason = HTTPStatus(code).phrase
            except ValueError:
                reason = ""
        if self.entry is not None:
            self.entry["status"] = code
        self.log_request(code)
        line = "%s %d %s" % (self.protocol_version, code, reason) if reason else "%s %d" % (self.protocol_version, code)
        self._headers_buffer = [(line + "\r\n").encode("latin-1", "strict")]
        self.send_header("Server", self.version_string())
        self.send_header("Date", self.date_time_string())

    def send_body(self, code, body, content_type, extra=(), reason=None):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.status_line(code, reason)
        if content_type:
            self.send_header("Content-Type", content_type)
        for k, v in extra:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.method != "HEAD":
            self.wfile.write(body)

    def send_json(self, code, value, content_type="application/json; charset=utf-8"):
        self.send_body(code, dumps(value), content_type)

    def send_encoded(self, code, body, content_type, extra=()):
        encoding = self.cfg.get("encoding")
        if encoding in ("gzip", "deflate"):
            body = compress(body, encoding)
            extra = list(extra) + [("Content-Encoding", encoding)]
        self.send_body(code, body, content_type, extra)

    def html_error(self, code, extra=()):
        page = "<html><head><title>%d</title></head><body><h1>%d %s</h1></body></html>" % (
            code, code, html.escape(HTTPStatus(code).phrase if code in HTTPStatus._value2member_map_ else ""))
        self.send_body(code, page, "text/html; charset=utf-8", extra)

    def retry_after(self):
        value = self.cfg.get("retry_after")
        return [("Retry-After", str(value))] if value is not None else []

    def range_start(self):
        """The first byte a "Range: bytes=S-..." header asks for; 0 without one."""
        match = re.match(r"\s*bytes\s*=\s*(\d+)-", self.headers.get("Range") or "")
        return int(match.group(1)) if match else 0

    def once_for_range(self, switch, start, size):
        """The value of a {"<start byte>" | "part<i>": value} switch for the first request of that
        range; None for any other request."""
        parts = int(self.cfg.get("parts") or 4)
        for key, value in (self.cfg.get(switch) or {}).items():
            if range_key_matches(key, start, size, parts) and self.state.first_time(switch + " " + str(key)):
                return value
        return None

    def close_early(self):
        """Ends the answer here: what was written goes out, then the connection is closed."""
        self.wfile.flush()
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def hold_silent(self):
        """Ends nothing: what was written goes out, then the connection stays silent until the
        client leaves (at most 90 s)."""
        self.wfile.flush()
        self.close_connection = True
        self.connection.settimeout(90)
        try:
            self.connection.recv(1)
        except OSError:
            pass

    def reset_after(self, body, n):
        """Sends n bytes of body (its headers already sent), then resets the connection."""
        self.wfile.write(body[:n])
        self.wfile.flush()
        self.close_connection = True
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
        except OSError:
            pass

    def own_port(self):
        return self.server.server_address[1]

    def authority(self, which):
        """host:port of the download (0) or storage (1) host, as the links name it."""
        port = self.own_port()
        if not self.state.hosts:
            return "%s:%d" % (("127.0.0.1", "localhost")[which], port)
        host = self.state.hosts[which]
        return host if port == {"http": 80, "https": 443}[self.server.scheme] else "%s:%d" % (host, port)

    # --- the API ---
    def listing(self):
        cfg = self.cfg
        status = cfg.get("listing_status")
        if status and not self.state.spend("listing_status"):
            status = None
        body = cfg.get("listing_body")
        ctype = cfg.get("listing_content_type") or "application/json; charset=utf-8"
        if body is not None:
            return self.send_encoded(status or 200, body.encode("utf-8"), ctype)
        depth = int(cfg.get("listing_depth") or 0)
        if depth > 0:
            body = '{"_embedded":{"items":[' + "[" * depth + "]" * depth + "]}}"
            return self.send_encoded(status or 200, body.encode("utf-8"), ctype)
        if status == 404:
            return self.send_body(404, dumps(NOT_FOUND_BODY), "application/json")
        if status:
            return self.send_body(status, dumps({"message": "Ошибка сервера.", "description": HTTPStatus(status).phrase
                                                 if status in HTTPStatus._value2member_map_ else "Error",
                                                 "error": "InternalServerError" if status >= 500 else "BadRequestError"}),
                                  "application/json; charset=utf-8", self.retry_after())
        key = self.param("public_key")
        folder = self.state.folder_of_key(key) if key else None
        if key is None:
            return self.send_json(400, {"message": "Ошибка проверки поля \"public_key\".",
                                        "description": "Error validating field \"public_key\": This field is required.",
                                        "error": "FieldValidationError"})
        if folder is None:
            return self.send_body(404, dumps(NOT_FOUND_BODY), "application/json")
        try:
            offset = int(self.param("offset", "0"))
            limit = int(self.param("limit", str(cfg.get("listing_limit") or 20)))
            if cfg.get("paging_ignores_offset"):
                offset = 0
            if offset < 0 or limit < 0:
                raise ValueError
        except ValueError:
            return self.send_json(400, {"message": "Ошибка проверки поля.", "description": "Error validating field.",
                                        "error": "FieldValidationError"})
        path_param = (self.param("path", "/") or "/").replace("\\", "/")
        rel = safe_rel(path_param) if path_param.strip("/") else ""
        base = self.state.folder_dir(folder)
        target = os.path.join(base, rel) if rel else base
        if rel is None or not os.path.exists(target):
            return self.send_body(404, dumps(NOT_FOUND_BODY), "application/json")
        resource = self.resource(folder, base, rel or "", top=True)
        if os.path.isdir(target):
            names = os.listdir(target)
            entries = [(n, os.path.isdir(os.path.join(target, n)), os.stat(os.path.join(target, n))) for n in names]
            sort = self.param("sort", "") or ""
            desc = sort.startswith("-")
            field = sort.lstrip("-")
            keyf = {
                "created": lambda e: (e[2].st_mtime, e[0]),
                "modified": lambda e: (e[2].st_mtime, e[0]),
                "size": lambda e: (0 if e[1] else e[2].st_size, e[0]),
            }.get(field, lambda e: e[0])
            entries.sort(key=keyf, reverse=desc)
            if cfg.get("dirs_first"):
                entries.sort(key=lambda e: not e[1])
            page = entries[offset:offset + limit]
            items = [self.resource(folder, base, (rel + "/" if rel else "") + n) for n, _, _ in page]
            embedded = {"path": "/" + (rel or ""), "limit": limit, "offset": offset, "sort": sort if field else "",
                        "total": len(entries), "items": items, "public_key": resource["public_key"]}
            # The folder's members, with _embedded in the place the service puts it.
            ordered = {}
            for k, v in resource.items():
                ordered[k] = v
                if k == "public_url":
                    ordered["_embedded"] = embedded
            resource = ordered
        self.send_encoded(200, dumps(resource).encode("utf-8"), "application/json; charset=utf-8")

    def resource(self, folder, base, rel, top=False):
        path = os.path.join(base, rel) if rel else base
        st = os.stat(path)
        key = self.state.public_key_of(folder)
        rid = "1234567:" + hashlib.sha256((folder + "/" + rel).encode("utf-8")).hexdigest()
        name = posixpath.basename(rel) if rel else folder
        res = {"path": "/" + rel, "type": "dir" if os.path.isdir(path) else "file", "name": name,
               "created": iso_time(st.st_mtime), "modified": iso_time(st.st_mtime)}
        if res["type"] == "file":
            md5, sha = self.state.hashes(path)
            mime, media = mime_of(name)
            res.update({"size": st.st_size, "mime_type": mime, "md5": md5, "sha256": sha})
        res["public_key"] = key
        if top:
            res["public_url"] = "https://disk.yandex.ru/d/" + folder
        if res["type"] == "file":
            res["media_type"] = media
        res.update({"resource_id": rid, "revision": int(st.st_mtime * 1000000),
                    "comment_ids": {"public_resource": rid, "private_resource": rid}, "exif": {}})
        if res["type"] == "file":
            res["antivirus_status"] = "clean"
            res["file"] = self.direct_link_of(folder, rel, name, st.st_size, mime, media, md5, sha)
            fields = dict(self.cfg.get("listing_fields") or {})
            fields.update((self.cfg.get("listing_fields_of") or {}).get(name) or {})
            for k, v in fields.items():
                if v is None:
                    res.pop(k, None)
                else:
                    res[k] = v
        if top:
            res["views_count"] = 0
            res["owner"] = {"uid": "1234567", "login": "release-bot", "display_name": "Release Bot"}
        return res

    def direct_link_of(self, folder, rel, name, size, mime, media, md5, sha):
        expiry = "%08x" % (int(time.time()) + 4 * 3600)
        token = urllib.parse.quote(b64token(folder + "/" + rel), safe="")
        query = urllib.parse.urlencode([
            ("uid", "0"), ("filename", name), ("disposition", "attachment"), ("hash", ""), ("limit", "0"),
            ("content_type", mime), ("owner_uid", "0"), ("fsize", str(size)), ("hid", md5),
            ("media_type", media), ("tknv", "v3"), ("etag", md5)], quote_via=urllib.parse.quote)
        return "%s://%s/disk/%s/%s/%s?%s" % (self.server.scheme, self.authority(0), sha, expiry, token, query)

    # --- the download host ---
    def file_of_token(self, token):
        try:
            text = unb64token(urllib.parse.unquote(token))
        except (ValueError, UnicodeDecodeError):
            return None
        folder, _, rel = text.partition("/")
        base = self.state.folder_dir(folder)
        rel = safe_rel(rel)
        if not base or not rel:
            return None
        path = os.path.join(base, rel)
        return (folder, rel, path) if os.path.isfile(path) else None

    def storage_location(self, token, query):
        if self.server.scheme == "https" and self.cfg.get("redirect_to_http"):
            return "http://localhost:%d/rdisk/%s?%s" % (self.state.ports["http"], token, query)
        return "%s://%s/rdisk/%s?%s" % (self.server.scheme, self.authority(1), token, query)

    def direct_link(self, raw_path):
        parts = raw_path.split("/")  # "", "disk", sha, expiry, token
        if len(parts) != 5 or self.method not in ("GET", "HEAD"):
            return self.html_error(500)
        token = parts[4]
        if not self.file_of_token(token):
            return self.html_error(500)
        cfg = self.cfg
        if cfg.get("download_status") and self.state.spend("download_status"):
            return self.html_error(int(cfg["download_status"]), self.retry_after())
        name = posixpath.basename(self.file_of_token(token)[1])
        if name in (cfg.get("file_status") or {}) and self.state.spend("file_status"):
            return self.html_error(int(cfg["file_status"][name]), self.retry_after())
        if cfg.get("redirect_location_missing"):
            return self.send_body(302, b"", "text/html")
        query = urllib.parse.urlsplit(self.path).query
        for switch in ("redirect_cut_once", "redirect_stall_once"):
            if self.method != "GET" or not cfg.get(switch):
                continue
            size = os.path.getsize(self.file_of_token(token)[2])
            cut = self.once_for_range(switch, self.range_start(), size)
            if cut is None:
                continue
            page = (FOUND_PAGE + b" " * 300)[:300]
            self.status_line(302)
            self.send_header("Content-Type", "text/html")
            self.send_header("Location", self.storage_location(token, query))
            self.send_header("Content-Length", str(len(page)))
            self.end_headers()
            if switch == "redirect_cut_once":
                return self.reset_after(page, int(cut))
            self.wfile.write(page[:int(cut)])
            return self.hold_silent()
        hops = int(cfg.get("redirects") or 0)
        if hops > 0:
            location = "/_hop/1/%d/%s?%s" % (hops, token, query)
            return self.send_body(302, FOUND_PAGE, "text/html", [("Location", location),
                                                          ("Set-Cookie", "hop1=c1; Path=/")])
        self.send_body(302, FOUND_PAGE, "text/html", [("Location", self.storage_location(token, query))])

    def cookies(self):
        jar = {}
        for header in self.headers.get_all("Cookie") or []:
            for piece in header.split(";"):
                k, _, v = piece.strip().partition("=")
                if k:
                    jar[k] = v
        return jar

    def hop(self, raw_path):
        parts = raw_path.split("/")  # "", "_hop", k, n, token
        try:
            k, n, token = int(parts[2]), int(parts[3]), parts[4]
        except (IndexError, ValueError):
            return self.html_error(500)
        if self.cookies().get("hop%d" % k) != "c%d" % k:
            return self.send_body(403, b"<html><body>Forbidden: cookie missing</body></html>", "text/html")
        query = urllib.parse.urlsplit(self.path).query
        if k < n:
            location = "/_hop/%d/%d/%s?%s" % (k + 1, n, token, query)
            cookie = "hop%d=c%d; Path=/" % (k + 1, k + 1)
            return self.send_body(302, FOUND_PAGE, "text/html", [("Location", location), ("Set-Cookie", cookie)])
        self.send_body(302, FOUND_PAGE, "text/html", [("Location", self.storage_location(token, query))])

    # --- the storage host ---
    def storage(self, raw_path):
        found = self.file_of_token(raw_path[len("/rdisk/"):])
        if not found or self.method not in ("GET", "HEAD"):
            return self.html_error(404)
        folder, rel, path = found
        cfg = self.cfg
        name = posixpath.basename(rel)
        size = os.path.getsize(path)
        ctype = mime_of(name)[0]
        if name in (cfg.get("charset") or {}):
            ctype = "text/plain; charset=" + cfg["charset"][name]
        if name in (cfg.get("content_type") or {}):
            ctype = cfg["content_type"][name]
        common = [("Accept-Ranges", "bytes")]

        if self.method == "HEAD":
            if cfg.get("head_status") and self.state.spend("head_status"):
                return self.html_error(int(cfg["head_status"]), self.retry_after())
            self.status_line(200)
            self.send_header("Content-Type", ctype)
            for k, v in common:
                self.send_header(k, v)
            mode = cfg.get("head_length")
            if mode == "zero":
                self.send_header("Content-Length", "0")
            elif mode != "none":
                self.send_header("Content-Length", str(size))
            self.end_headers()
            return

        start, end, status = 0, size - 1, 200
        header = self.headers.get("Range")
        if header and not cfg.get("ignore_range"):
            parsed = parse_range(header, size)
            if parsed == "ignore":
                pass
            elif parsed is None:
                return self.send_body(416, b"<html><body>416 Requested Range Not Satisfiable</body></html>",
                                      "text/html", [("Content-Range", "bytes */%d" % size)])
            else:
                start, end = parsed
                status = 206
        for key, code in (cfg.get("range_status") or {}).items():
            if range_key_matches(key, start, size, int(cfg.get("parts") or 4)) and self.state.spend("range_status"):
                code = int(code)
                if code == 416:
                    return self.send_body(416, b"<html><body>416 Requested Range Not Satisfiable</body></html>",
                                          "text/html", [("Content-Range", "bytes */%d" % size)])
                return self.html_error(code, self.retry_after())
        extra = list(common)
        # The bytes served, which a wrong answer takes from elsewhere in the file.
        served = start
        length = end - start + 1 if size else 0
        if status == 206:
            moved = self.once_for_range("wrong_range_once", start, size)
            if moved is not None:
                served = min(int(moved), size - length)
            extra.append(("Content-Range", "bytes %d-%d/%d" % (served, served + length - 1, size)))
        if cfg.get("encoding") in ("gzip", "deflate"):
            with open(path, "rb") as f:
                f.seek(served)
                data = f.read(length)
            return self.send_encoded(status, data, ctype, extra)

        parts = int(cfg.get("parts") or 4)
        close_after = cfg.get("close_after")
        if isinstance(close_after, dict):
            limit = None
            for key, n in close_after.items():
                if range_key_covers(key, start, size, parts):
                    limit = int(n)
            close_after = limit
        for key, n in (cfg.get("close_once") or {}).items():
            if range_key_matches(key, start, size, parts) and self.state.first_time("close_once " + str(key)):
                close_after = int(n)
        extra_bytes = 0
        announced_more = 0
        trickle_after = None
        if status == 206:
            for key, n in (cfg.get("overlong_body") or {}).items():
                if range_key_matches(key, start, size, parts):
                    extra_bytes = int(n)
            more = self.once_for_range("length_plus_once", start, size)
            if more is not None:
                announced_more = int(more)
        trickle = self.once_for_range("trickle_once", start, size)
        if trickle is not None:
            trickle_after = int(trickle)
        replaced = bool(cfg.get("replaced")) and start > 0
        # Bytes of this answer to invert, as offsets into its body.
        damaged = set()
        for key, times in (cfg.get("damage_at") or {}).items():
            at = int(key) - served
            if 0 <= at < length and self.state.damage_now(int(key), int(times)):
                damaged.add(at)
        rate = int(cfg.get("rate_limit") or 0)
        framing = cfg.get("framing") or "length"

        self.status_line(status)
        self.send_header("Content-Type", ctype)
        for k, v in extra:
            self.send_header(k, v)
        if framing == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif framing == "close":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(length + extra_bytes + announced_more))
        self.end_headers()
        write = self.wfile.write
        if framing == "chunked":
            def write(block):
                if block:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(block), block))
        sent = 0
        began = time.monotonic()
        with open(path, "rb") as f:
            f.seek(served)
            while sent < length:
                if trickle_after is not None and sent >= trickle_after:
                    self.wfile.flush()
                    time.sleep(0.2)
                    block = f.read(1)
                    if not block:
                        break
                    write(block)
                    sent += 1
                    continue
                want = min(CHUNK, length - sent)
                if rate:
                    want = min(want, max(1, rate // 20))
                if trickle_after is not None:
                    want = min(want, trickle_after - sent)
                if close_after is not None:
                    want = min(want, close_after - sent)
                    if want <= 0:
                        return self.close_early()
                block = f.read(want)
                if not block:
                    break
                if replaced:
                    block = bytes(b ^ 0xFF for b in block)
                hit = [at - sent for at in damaged if sent <= at < sent + len(block)]
                if hit:
                    block = bytearray(block)
                    for at in hit:
                        block[at] ^= 0xFF
                    block = bytes(block)
                write(block)
                sent += len(block)
                if self.entry is not None:
                    self.entry["bytes"] = sent
                if rate:
                    ahead = sent / rate - (time.monotonic() - began)
                    if ahead > 0:
                        time.sleep(ahead)
        if extra_bytes:
            write(b"X" * extra_bytes)
        if announced_more and framing in ("chunked", "close"):
            return self.hold_silent()
        if announced_more:
            return self.close_early()
        if framing == "chunked":
            self.wfile.write(b"0\r\n\r\n")

    # --- generic endpoints for HTTP client tests ---
    def test_endpoint(self, name):
        if name == "echo":
            headers = {}
            for k, v in self.headers.items():
                key = k.lower()
                headers[key] = headers[key] + ", " + v if key in headers else v
            body = self.read_body() if self.method == "POST" else b""
            return self.send_json(200, {"method": self.method, "path": self.path, "headers": headers,
                                        "raw_headers": [[k, v] for k, v in self.headers.items()],
                                        "body_length": len(body)})
        if name == "redirect":
            # n hops of `status` (302), then `final` (or the echo). relative=1 gives a relative
            # Location, frag=X puts a fragment on it, cookie=1 makes each hop need the previous cookie.
            n = int(self.param("n", "1"))
            code = int(self.param("status", "302"))
            if self.param("cookie") == "1" and self.param("step"):
                step = int(self.param("step"))
                if self.cookies().get("r%d" % step) != "v%d" % step:
                    return self.send_body(403, b"cookie missing", "text/plain")
            if n <= 0:
                final = self.param("final")
                if final:
                    return self.send_body(code, b"", "text/html", [("Location", final)])
                return self.test_endpoint("echo")
            query = dict((k, v[0]) for k, v in self.query.items())
            query["n"] = str(n - 1)
            step = int(query.get("step", "0")) + 1
            query["step"] = str(step)
            location = "/_test/redirect?" + urllib.parse.urlencode(query)
            if self.param("relative") == "1":
                location = "redirect?" + urllib.parse.urlencode(query)
            else:
                location = "%s://%s%s" % (self.server.scheme, self.headers.get("Host", "127.0.0.1"), location)
            if self.param("frag"):
                location += "#" + self.param("frag")
            extra = [("Location", location)]
            if self.param("cookie") == "1":
                extra.append(("Set-Cookie", "r%d=v%d; Path=/" % (step, step)))
            return self.send_body(code, b"", "text/html", extra)
        if name == "status":
            # code, reason (may be empty: no reason phrase), type, body (repeated to size bytes),
            # encoding, location.
            code = int(self.param("code", "200"))
            reason = self.param("reason")
            body = (self.param("body", "") or "").encode("utf-8")
            if self.param("body_hex"):
                body = bytes.fromhex(self.param("body_hex"))
            if self.param("size") is not None:
                size = int(self.param("size"))
                body = (body or b"x") * (size // max(1, len(body or b"x")) + 1)
                body = body[:size]
            encoding = self.param("encoding")
            extra = []
            if encoding:
                body = compress(body, encoding)
                extra.append(("Content-Encoding", encoding))
            if self.param("location") is not None:
                extra.append(("Location", self.param("location")))
            return self.send_body(code, body, self.param("type", "text/plain"), extra, reason=reason)
        self.send_body(404, b"no such test endpoint", "text/plain")

    # --- control ---
    def control(self, name):
        state = self.state
        try:
            if name == "reset" and self.method == "POST":
                self.read_body()
                state.reset()
                return self.send_json(200, {"ok": True})
            if name == "config":
                if self.method == "POST":
                    values = json.loads(self.read_body().decode("utf-8") or "{}")
                    if not isinstance(values, dict):
                        raise ValueError("config must be a JSON object")
                    state.merge(values)
                return self.send_json(200, state.config())
            if name == "log" and self.method == "GET":
                return self.send_body(200, state.log_json(), "application/json; charset=utf-8")
            if name == "ports" and self.method == "GET":
                return self.send_json(200, state.ports)
            if name == "file":
                folder = self.param("folder", "")
                rel = safe_rel(self.param("name", ""))
                if not rel or not folder or "/" in folder or folder in (".", ".."):
                    raise ValueError("bad folder or name")
                path = os.path.join(state.root, folder, rel)
                if self.method == "POST":
                    data = self.read_body()
                    os.makedirs(os.path.dirname(path), exist_ok=True)
                    with open(path + ".tmp~", "wb") as f:
                        f.write(data)
                    os.replace(path + ".tmp~", path)
                    return self.send_json(200, {"ok": True, "size": len(data)})
                if self.method == "DELETE":
                    if os.path.isdir(path):
                        shutil.rmtree(path)
                    elif os.path.exists(path):
                        os.remove(path)
                    else:
                        return self.send_json(404, {"error": "no such file"})
                    return self.send_json(200, {"ok": True})
            if name == "folder":
                folder = self.param("id", "")
                if not folder or "/" in folder or folder in (".", ".."):
                    raise ValueError("bad folder id")
                path = os.path.join(state.root, folder)
                self.read_body()
                if self.method == "POST":
                    os.makedirs(path, exist_ok=True)
                    return self.send_json(200, {"ok": True})
                if self.method == "DELETE":
                    shutil.rmtree(path, ignore_errors=True)
                    return self.send_json(200, {"ok": True})
            self.send_json(404, {"error": "no such control endpoint"})
        except (ValueError, OSError) as e:
            self.send_json(400, {"error": str(e)})


def parse_range(header, size):
    """(start, end) of a single byte range, None when not satisfiable or malformed, "ignore" for
    what the server does not do (several ranges, other units)."""
    header = header.strip()
    if not header.startswith("bytes="):
        return "ignore"
    ranges_text = header[len("bytes="):].strip()
    if "," in ranges_text:
        return "ignore"
    first, sep, last = ranges_text.partition("-")
    first, last = first.strip(), last.strip()
    if not sep or not (first.isdigit() or (first == "" and last.isdigit())) or (last and not last.isdigit()):
        return None
    if first == "":
        n = int(last)
        if n == 0 or size == 0:
            return None
        return max(0, size - n), size - 1
    start = int(first)
    end = int(last) if last else size - 1
    if start >= size or end < start:
        return None
    return start, min(end, size - 1)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, state, scheme, verbose, family=socket.AF_INET, context=None):
        self.address_family = family
        self.state = state
        self.scheme = scheme
        self.verbose = verbose
        self.context = context
        super().__init__(address, Handler)

    def get_request(self):
        sock, addr = super().get_request()
        if self.context:
            sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, addr

    def handle_error(self, request, client_address):
        if self.verbose:
            super().handle_error(request, client_address)


# The download and storage hosts the service's direct links name.
NAMED_HOSTS = ("downloader.disk.yandex.ru", "s1.storage.yandex.net")


def make_tls_context(cert=None, key=None):
    if cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        return context
    tmp = tempfile.mkdtemp(prefix="standin-cert-")
    try:
        key, cert = os.path.join(tmp, "key.pem"), os.path.join(tmp, "cert.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        return context
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


def serve(server):
    t = threading.Thread(target=server.serve_forever, daemon=True)
    t.start()
    return t


def start_pair(state, port, scheme, verbose, context=None):
    """The server on 127.0.0.1 and, best effort, the same port on ::1 (for "localhost")."""
    servers = [Server(("127.0.0.1", port), state, scheme, verbose, context=context)]
    chosen = servers[0].server_address[1]
    try:
        servers.append(Server(("::1", chosen), state, scheme, verbose, family=socket.AF_INET6, context=context))
    except OSError:
        pass
    for s in servers:
        serve(s)
    return chosen, servers


def parse_switch(text):
    name, sep, value = text.partition("=")
    if not sep:
        return name, True
    try:
        return name, json.loads(value)
    except ValueError:
        return name, value


def main(argv=None):
    ap = argparse.ArgumentParser(description="Local stand-in of the cloud disk")
    ap.add_argument("--root", required=True, help="folder whose subfolders are the public folders")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--port-file")
    ap.add_argument("--https", action="store_true", help="also serve HTTPS with a self-signed certificate")
    ap.add_argument("--https-port", type=int, default=0)
    ap.add_argument("--tls-cert", help="certificate (PEM) for HTTPS instead of a self-signed one")
    ap.add_argument("--tls-key", help="its private key (PEM)")
    ap.add_argument("--named-hosts", action="store_true",
                    help="direct links name %s and %s (the hosts file must send them here)" % NAMED_HOSTS)
    ap.add_argument("--config", help="JSON object of switches")
    ap.add_argument("--set", action="append", default=[], metavar="NAME=VALUE", help="one switch (JSON value)")
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args(argv)

    switches = json.loads(args.config) if args.config else {}
    switches.update(dict(parse_switch(s) for s in args.set))
    unknown = [k for k in switches if k not in SWITCHES]
    if unknown:
        ap.error("unknown switch: " + ", ".join(unknown))
    os.makedirs(args.root, exist_ok=True)
    state = Standin(args.root, switches)
    if args.named_hosts:
        state.hosts = NAMED_HOSTS

    http_port, _ = start_pair(state, args.port, "http", args.verbose)
    state.ports = {"http": http_port}
    if args.https:
        https_port, _ = start_pair(state, args.https_port, "https", args.verbose,
                                   make_tls_context(args.tls_cert, args.tls_key))
        state.ports["https"] = https_port
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            json.dump(state.ports, f)
        os.replace(tmp, args.port_file)
    else:
        print(json.dumps(state.ports), flush=True)
    try:
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
