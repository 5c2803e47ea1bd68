#!/usr/bin/python3
"""Checks the stand-in answers as the client expects: pages, errors, redirects, ranges, faults."""

import gzip
import hashlib
import http.client
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = bytes(range(256)) * 40  # 10240 bytes


class StandinTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="standin-test-")
        folder = os.path.join(cls.root, "F")
        os.makedirs(os.path.join(folder, "sub"))
        for i in range(25):
            open(os.path.join(folder, "f%02d.txt" % i), "wb").write(b"x" * i)
        open(os.path.join(folder, "big.zip"), "wb").write(DATA)
        port_file = os.path.join(cls.root, "ports.json")
        cls.proc = subprocess.Popen([sys.executable, os.path.join(HERE, "standin.py"), "--root", cls.root,
                                     "--port", "0", "--port-file", port_file])
        for _ in range(500):
            if os.path.exists(port_file):
                break
            time.sleep(0.02)
        cls.port = json.load(open(port_file))["http"]

    @classmethod
    def tearDownClass(cls):
        cls.proc.terminate()
        cls.proc.wait()
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.request("POST", "/_control/reset")

    def request(self, method, url, headers=None, body=None, host="127.0.0.1"):
        parsed = urllib.parse.urlsplit(url)
        conn = http.client.HTTPConnection(parsed.hostname or host, parsed.port or self.port, timeout=30)
        path = parsed.path + ("?" + parsed.query if parsed.query else "")
        try:
            conn.request(method, path, body=body, headers=headers or {})
            answer = conn.getresponse()
            data = answer.read()
        finally:
            conn.close()
        return answer, data

    def config(self, **switches):
        answer, _ = self.request("POST", "/_control/config", body=json.dumps(switches).encode())
        self.assertEqual(answer.status, 200)

    def listing(self, query):
        return self.request("GET", "/v1/disk/public/resources?public_key=" + query)

    def link(self, name):
        answer, body = self.listing(urllib.parse.quote("https://disk.yandex.ru/d/F", safe="") + "&limit=100")
        items = json.loads(body)["_embedded"]["items"]
        return next(i for i in items if i["name"] == name)["file"]

    def follow(self, method, url, headers=None):
        """Follows redirects carrying cookies; the final answer and its body."""
        jar = {}
        for _ in range(10):
            h = dict(headers or {})
            if jar:
                h["Cookie"] = "; ".join("%s=%s" % kv for kv in jar.items())
            answer, body = self.request(method, url, h)
            for value in answer.msg.get_all("Set-Cookie") or []:
                k, _, v = value.split(";")[0].partition("=")
                jar[k] = v
            if answer.status != 302:
                return answer, body
            url = urllib.parse.urljoin(url, answer.getheader("Location"))
        self.fail("too many redirects")

    def test_listing_pages_and_keys(self):
        for key in ("https%3A%2F%2Fdisk.yandex.ru%2Fd%2FF", "F", "https%3A%2F%2Fyadi.sk%2Fd%2FF%2F"):
            answer, body = self.listing(key)
            self.assertEqual(answer.status, 200, key)
            self.assertEqual(answer.getheader("Content-Type"), "application/json; charset=utf-8")
            doc = json.loads(body)
            page = doc["_embedded"]
            self.assertEqual((page["limit"], page["offset"], page["total"], page["sort"]), (20, 0, 27, ""))
            self.assertEqual(len(page["items"]), 20)
            self.assertEqual(list(page)[-1], "public_key")
        names = []
        for offset in (0, 20):
            _, body = self.listing("F&limit=20&offset=%d" % offset)
            names += [i["name"] for i in json.loads(body)["_embedded"]["items"]]
        self.assertEqual(names, sorted(names))
        self.assertEqual(len(names), 27)
        items = {i["name"]: i for i in json.loads(self.listing("F&limit=100")[1])["_embedded"]["items"]}
        self.assertNotIn("file", items["sub"])
        self.assertNotIn("size", items["sub"])
        big = items["big.zip"]
        self.assertEqual((big["size"], big["sha256"], big["md5"], big["mime_type"]),
                         (len(DATA), hashlib.sha256(DATA).hexdigest(), hashlib.md5(DATA).hexdigest(),
                          "application/zip"))
        self.assertRegex(big["file"], r"^http://127\.0\.0\.1:\d+/disk/[0-9a-f]{64}/[0-9a-f]{8}/[^?]+\?uid=0&"
                         r"filename=big\.zip&.*fsize=10240")

    def test_errors_of_the_api(self):
        answer, body = self.listing("https%3A%2F%2Fdisk.yandex.ru%2Fd%2Fmissing")
        self.assertEqual(answer.status, 404)
        self.assertEqual(answer.getheader("Content-Type"), "application/json")
        self.assertIn("Не удалось найти запрошенный ресурс.".encode(), body)
        self.assertEqual(json.loads(body)["error"], "DiskNotFoundError")
        self.config(listing_status=500)
        self.assertEqual(self.listing("F")[0].status, 500)
        self.config(listing_status=None, listing_body="[1,")
        self.assertEqual(self.listing("F")[1], b"[1,")

    def test_download_redirect_ranges_and_head(self):
        url = self.link("big.zip")
        answer, _ = self.request("GET", url)
        self.assertEqual(answer.status, 302)
        self.assertTrue(answer.getheader("Location").startswith("http://localhost:"))
        cases = [("bytes=0-9", 206, DATA[0:10], "bytes 0-9/10240"),
                 ("bytes=10000-", 206, DATA[10000:], "bytes 10000-10239/10240"),
                 ("bytes=10000-99999", 206, DATA[10000:], "bytes 10000-10239/10240"),
                 ("bytes=10240-10300", 416, None, "bytes */10240"),
                 ("bytes=0--1", 416, None, "bytes */10240"),
                 (None, 200, DATA, None)]
        for rng, status, data, content_range in cases:
            answer, body = self.follow("GET", url, {"Range": rng} if rng else {})
            self.assertEqual(answer.status, status, rng)
            self.assertEqual(answer.getheader("Content-Range"), content_range, rng)
            if data is not None:
                self.assertEqual(body, data, rng)
        answer, body = self.follow("HEAD", url)
        self.assertEqual((answer.status, answer.getheader("Content-Length"), body), (200, "10240", b""))
        self.config(head_length="zero")
        self.assertEqual(self.follow("HEAD", url)[0].getheader("Content-Length"), "0")
        self.config(ignore_range=True)
        answer, body = self.follow("GET", url, {"Range": "bytes=0-9"})
        self.assertEqual((answer.status, body), (200, DATA))
        self.config(ignore_range=False, range_status={"part2": 416})
        self.assertEqual(self.follow("GET", url, {"Range": "bytes=0-9"})[0].status, 206)
        self.assertEqual(self.follow("GET", url, {"Range": "bytes=5120-7679"})[0].status, 416)

    def test_redirect_hops_need_cookies(self):
        url = self.link("f03.txt")
        self.config(redirects=3)
        answer, body = self.follow("GET", url)
        self.assertEqual((answer.status, body), (200, b"xxx"))
        hops = [e for e in json.loads(self.request("GET", "/_control/log")[1]) if "/_hop/" in e["path"]]
        self.assertEqual(len(hops), 3)
        first, _ = self.request("GET", url)
        answer, _ = self.request("GET", urllib.parse.urljoin(url, first.getheader("Location")))
        self.assertEqual(answer.status, 403)

    def test_gzip_and_charset(self):
        url = self.link("f03.txt")
        self.config(encoding="gzip", charset={"f03.txt": "windows-1251"})
        answer, body = self.listing("F")
        self.assertEqual(answer.getheader("Content-Encoding"), "gzip")
        self.assertEqual(json.loads(gzip.decompress(body))["_embedded"]["total"], 27)
        answer, body = self.follow("GET", url)
        self.assertEqual(answer.getheader("Content-Type"), "text/plain; charset=windows-1251")
        self.assertEqual(gzip.decompress(body), b"xxx")

    def test_control_files(self):
        answer, _ = self.request("POST", "/_control/file?folder=G&name=%D0%B0.txt", body=b"abc")
        self.assertEqual(answer.status, 200)
        items = json.loads(self.listing("G")[1])["_embedded"]["items"]
        self.assertEqual([(i["name"], i["size"]) for i in items], [("а.txt", 3)])
        self.assertEqual(self.request("DELETE", "/_control/file?folder=G&name=%D0%B0.txt")[0].status, 200)
        self.assertEqual(json.loads(self.listing("G")[1])["_embedded"]["total"], 0)
        self.assertEqual(self.request("POST", "/_control/config", body=b'{"no_such":1}')[0].status, 400)

    def test_whole_url_request_lines_as_a_proxy(self):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        conn.request("GET", "http://via-proxy.invalid/_test/echo?a=1", headers={"Host": "via-proxy.invalid"})
        answer = conn.getresponse()
        echo = json.loads(answer.read())
        conn.close()
        self.assertEqual(answer.status, 200)
        self.assertEqual(echo["path"], "http://via-proxy.invalid/_test/echo?a=1")
        script = "function FindProxyForURL(url, host) { return \"DIRECT\"; }"
        answer, body = self.request("GET", "/_test/status?code=200&type=application/x-ns-proxy-autoconfig&body=" +
                                    urllib.parse.quote(script))
        self.assertEqual(answer.getheader("Content-Type"), "application/x-ns-proxy-autoconfig")
        self.assertEqual(body.decode(), script)

    def test_integrity_and_hostile_answer_switches(self):
        items = lambda: {i["name"]: i for i in json.loads(self.listing("F&limit=100")[1])["_embedded"]["items"]}
        self.config(listing_fields={"sha256": None, "size": 7})
        self.assertNotIn("sha256", items()["big.zip"])
        self.assertEqual(items()["big.zip"]["size"], 7)
        self.config(listing_fields_of={"big.zip": {"size": 8}})
        self.assertEqual((items()["big.zip"]["size"], items()["f01.txt"]["size"]), (8, 7))
        self.config(listing_fields_of=None)
        self.config(listing_fields={}, listing_limit=5, paging_ignores_offset=True)
        page = json.loads(self.listing("F&offset=10")[1])["_embedded"]
        self.assertEqual((page["offset"], page["limit"], len(page["items"])), (0, 5, 5))
        self.config(listing_limit=None, paging_ignores_offset=None, listing_depth=3)
        self.assertEqual(self.listing("F")[1], b'{"_embedded":{"items":[[[[]]]]}}')
        self.config(listing_depth=None)

        url = self.link("big.zip")
        self.config(head_status=405)
        self.assertEqual(self.follow("HEAD", url)[0].status, 405)
        self.config(head_status=None, replaced=True)
        self.assertEqual(self.follow("GET", url, {"Range": "bytes=0-9"})[1], DATA[0:10])
        self.assertEqual(self.follow("GET", url, {"Range": "bytes=100-109"})[1], bytes(b ^ 0xFF for b in DATA[100:110]))
        self.config(replaced=None, overlong_body={"part2": 3})
        answer, body = self.follow("GET", url, {"Range": "bytes=5120-7679"})
        self.assertEqual((answer.getheader("Content-Range"), answer.getheader("Content-Length")),
                         ("bytes 5120-7679/10240", "2563"))
        self.assertEqual(body, DATA[5120:7680] + b"XXX")

        def cut(rng):
            try:
                return len(self.follow("GET", url, {"Range": rng})[1])
            except http.client.IncompleteRead as e:
                return len(e.partial)
        # Part 1 is 2560-5119: cut once, then whole; cut every time, resumed requests too.
        self.config(overlong_body=None, close_once={"part1": 100})
        self.assertEqual([cut("bytes=2560-5119"), cut("bytes=2660-5119"), cut("bytes=2560-5119")], [100, 2460, 2560])
        self.config(close_once=None, close_after={"part1": 100})
        self.assertEqual([cut("bytes=2560-5119"), cut("bytes=2660-5119"), cut("bytes=5120-7679")], [100, 100, 2560])


    def test_fault_switches_of_the_downloader(self):
        url = self.link("big.zip")

        def raw(rng, timeout=30):
            """The first hop's answer to a ranged GET as raw bytes, up to the server's close."""
            import socket
            parsed = urllib.parse.urlsplit(url)
            sock = socket.create_connection(("127.0.0.1", self.port), timeout=timeout)
            sock.sendall(("GET %s?%s HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: %s\r\n\r\n"
                          % (parsed.path, parsed.query, rng)).encode())
            data = b""
            try:
                while True:
                    block = sock.recv(65536)
                    if not block:
                        break
                    data += block
                    if b"\r\n\r\n" in data and data.startswith(b"HTTP/1.1 302") and len(data.split(b"\r\n\r\n", 1)[1]) >= 100:
                        break
            except (ConnectionResetError, socket.timeout):
                pass
            sock.close()
            return data

        # A redirect's page cut after 100 of its 300 bytes, for the first request of part 1 only.
        self.config(redirect_cut_once={"part1": 100})
        head, _, page = raw("bytes=2560-5119").partition(b"\r\n\r\n")
        self.assertIn(b"Content-Length: 300", head)
        self.assertEqual(len(page), 100)
        self.assertEqual(self.follow("GET", url, {"Range": "bytes=2560-5119"})[1], DATA[2560:5120])

        # Other bytes under a Content-Range that says so, once; announced one byte longer, once.
        self.config(redirect_cut_once=None, wrong_range_once={"part1": 0}, length_plus_once={"part2": 1})
        answer, body = self.follow("GET", url, {"Range": "bytes=2560-5119"})
        self.assertEqual((answer.getheader("Content-Range"), body), ("bytes 0-2559/10240", DATA[0:2560]))
        answer, body = self.follow("GET", url, {"Range": "bytes=2560-5119"})
        self.assertEqual((answer.getheader("Content-Range"), body), ("bytes 2560-5119/10240", DATA[2560:5120]))
        try:
            self.follow("GET", url, {"Range": "bytes=5120-7679"})
            self.fail("the announced length was met")
        except http.client.IncompleteRead as e:
            self.assertEqual((len(e.partial), e.expected), (2560, 1))

        # Bodies without a length: chunked, or ended by the close; a cut one is just shorter.
        for framing in ("chunked", "close"):
            self.config(wrong_range_once=None, length_plus_once=None, framing=framing, close_after=None)
            answer, body = self.follow("GET", url, {"Range": "bytes=100-199"})
            self.assertEqual((answer.getheader("Content-Length"), body), (None, DATA[100:200]))
            self.assertEqual(answer.getheader("Transfer-Encoding"), "chunked" if framing == "chunked" else None)
        # Chunked and announced longer: every byte, then no last chunk and silence.
        self.config(framing="chunked", length_plus_once={"100": 1})
        storage = urllib.parse.urlsplit(self.request("GET", url, {"Range": "bytes=100-199"})[0].getheader("Location"))
        conn = http.client.HTTPConnection("127.0.0.1", storage.port, timeout=1)
        conn.request("GET", storage.path + "?" + storage.query, headers={"Range": "bytes=100-199"})
        answer = conn.getresponse()
        self.assertEqual(answer.read1(1000), DATA[100:200])
        with self.assertRaises(OSError):
            answer.read1(1000)
        conn.close()
        self.config(length_plus_once=None)
        self.config(framing="chunked", close_after={"100": 10})
        try:
            self.follow("GET", url, {"Range": "bytes=100-199"})
            self.fail("a cut chunked body ended well")
        except http.client.IncompleteRead as e:
            self.assertEqual(len(e.partial), 10)

        # A trickle after 10 bytes (one byte every 200 ms), first request of that range only.
        self.config(framing=None, close_after=None, trickle_once={"100": 10})
        self.assertEqual(self.follow("GET", url, {"Range": "bytes=100-112"})[1], DATA[100:113])

        # Passing failures for the first N requests, with the wish of when to come back.
        self.config(trickle_once=None, head_status=503, listing_status=503, retry_after=2,
                    times={"head_status": 1, "listing_status": 2})
        answer, _ = self.follow("HEAD", url)
        self.assertEqual((answer.status, answer.getheader("Retry-After")), (503, "2"))
        self.assertEqual(self.follow("HEAD", url)[0].status, 200)
        self.assertEqual([self.listing("F")[0].status for _ in range(3)], [503, 503, 200])

        # A redirect's page that stops and keeps silent until the client leaves.
        self.config(head_status=None, listing_status=None, times=None, redirect_stall_once={"part1": 100})
        head, _, page = raw("bytes=2560-5119", timeout=2).partition(b"\r\n\r\n")
        self.assertEqual(len(page), 100)

    def test_damage_file_status_and_served_bytes(self):
        url = self.link("big.zip")
        # Byte 150 inverted in the first two answers that carry it; others and later ones whole.
        self.config(damage_at={"150": 2})
        damaged = DATA[:150] + bytes([DATA[150] ^ 0xFF]) + DATA[151:]
        self.assertEqual(self.follow("GET", url, {"Range": "bytes=100-199"})[1], damaged[100:200])
        self.assertEqual(self.follow("GET", url, {"Range": "bytes=0-99"})[1], DATA[0:100])
        self.assertEqual(self.follow("GET", url)[1], damaged)
        self.assertEqual(self.follow("GET", url, {"Range": "bytes=140-160"})[1], DATA[140:161])
        # The log counts the body bytes each storage answer sent.
        _, log = self.request("GET", "/_control/log")
        sent = [e.get("bytes") for e in json.loads(log) if e["path"].startswith("/rdisk/")]
        self.assertEqual(sent, [100, 100, len(DATA), 21])

        # One file's direct link answers a status, the first time only; other files are served.
        self.config(damage_at=None, file_status={"big.zip": 503}, times={"file_status": 1})
        self.assertEqual(self.follow("GET", url)[0].status, 503)
        self.assertEqual(self.follow("GET", url)[1], DATA)


if __name__ == "__main__":
    unittest.main()
