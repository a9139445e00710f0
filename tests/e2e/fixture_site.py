"""A stand-in exam host for end-to-end tests that need pages of their own.

It listens on one of the program's exam hosts (the program's addresses are
fixed at build time) and serves the pages a test gives it, path (with query)
to HTML. Every request is recorded, and pages report what they see with
`fetch('/report?...')`, which lands in `reports`.
"""

import http.server
import threading
import time
import urllib.parse

# Pasted into fixture pages: reports the view's height whenever it changes,
# which is how a test sees the browser control's height from outside.
HEIGHT_REPORTER = """
<script>
(function () {
  var last = -1;
  function report() {
    if (window.innerHeight !== last) {
      last = window.innerHeight;
      fetch('/report?height=' + last + '&page=' + encodeURIComponent(location.href));
    }
  }
  report();
  setInterval(report, 50);
})();
</script>
"""


# A page value: the connection is closed without an answer, so the browser's
# load of that address fails.
DROP = object()


class FixtureSite:
    def __init__(self, host_port, pages):
        host, port = host_port.split(":")
        self.pages = dict(pages)
        self.requests = []  # (monotonic time, method, path with query)
        self.reports = []  # (monotonic time, dict of the report's fields)
        self._lock = threading.Lock()
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                with site._lock:
                    site.requests.append((time.monotonic(), "GET", self.path))
                parsed = urllib.parse.urlsplit(self.path)
                if parsed.path == "/report":
                    fields = dict(urllib.parse.parse_qsl(parsed.query))
                    with site._lock:
                        site.reports.append((time.monotonic(), fields))
                    self._send(204, b"", "text/plain")
                    return
                page = site.pages.get(self.path)
                if page is None:
                    page = site.pages.get(parsed.path)
                if page is DROP:
                    self.close_connection = True
                    return
                if page is None:
                    self._send(404, b"<html><body>not here</body></html>", "text/html")
                    return
                self._send(200, page.encode("utf-8"), "text/html; charset=utf-8")

            def _send(self, code, body, kind):
                self.send_response(code)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

        self._server = http.server.ThreadingHTTPServer((host, int(port)), Handler)
        self._server.daemon_threads = True
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._server.shutdown()
        self._server.server_close()

    def heights(self, since=0.0):
        with self._lock:
            return [(int(f["height"]), f.get("page", ""))
                    for t, f in self.reports if t >= since and "height" in f]

    def last_height(self):
        h = self.heights()
        return h[-1][0] if h else None

    def requested(self, path, since=0.0):
        with self._lock:
            return any(p == path and t >= since for t, _, p in self.requests)
