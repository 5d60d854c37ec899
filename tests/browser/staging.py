"""What the browser tests share: the skip when Chromium, its driver,
lighttpd or selenium is missing (exit status 77), the staging of
corvane-sim and lighttpd through scripts/serve.sh, a headless Chromium, a
test's session of both, and an attacker's site.
Importing it checks the first; run the tests through
scripts/private-network.sh."""
import contextlib
import http.server
import os
import select
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
for program, package in ((CHROMIUM, "chromium"), (DRIVER, "chromium-driver"), ("/usr/sbin/lighttpd", "lighttpd")):
    if not os.access(program, os.X_OK):
        print(f"SKIPPED: {program} is missing (Debian package {package})")
        sys.exit(SKIP)
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError:
    print("SKIPPED: selenium is missing (Debian package python3-selenium)")
    sys.exit(SKIP)
if not os.environ.get("CORVANE_PRIVATE_NETWORK"):
    sys.exit("run through scripts/private-network.sh: the gateway starts discovery")


def serve(source, build, work, sim_options=(), env=None, discovery=False, script="scripts/serve.sh"):
    """corvane-sim and lighttpd as scripts/serve.sh (or script, a path in
    the source tree that works the same way) starts them: the process, the
    server's address and the HTTP port. Without discovery every gateway
    request waits a second for servers to answer a search; with it, the sim
    answers the search at once, in the test's private network."""
    served = subprocess.Popen(
        [os.path.join(source, script), work, *(() if discovery else ("--no-discovery",)),
         "--call-log", os.path.join(work, "calls"), *sim_options],
        stdout=subprocess.PIPE, env=dict(os.environ, BUILD=build, **(env or {})), text=True)
    ready, _, _ = select.select([served.stdout], [], [], 60)
    ports = served.stdout.readline().split() if ready else []
    if len(ports) != 2:
        served.kill()
        sys.exit(f"{script} did not start corvane-sim and lighttpd")
    return served, f"127.0.0.1:{ports[0]}", ports[1]


def start_browser(work, arguments=(), prefs=None):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                "--lang=en-US", f"--user-data-dir={work}/chromium", *arguments):
        options.add_argument(arg)
    if prefs:
        options.add_experimental_option("prefs", prefs)
    return webdriver.Chrome(service=Service(DRIVER), options=options)


@contextlib.contextmanager
def session(prefix, serve_in, browser_in):
    """A scratch folder, the staging serve_in(folder) starts and the browser
    browser_in(folder) starts: yields (driver, folder, server, port); then
    stops both, removes the folder, and says the test passed when the body
    did."""
    work = tempfile.mkdtemp(prefix=prefix)
    served = None
    try:
        served, server, port = serve_in(work)
        driver = browser_in(work)
        try:
            yield driver, work, server, port
        finally:
            driver.quit()
        print("1 passed, 0 failed")
    finally:
        if served:
            served.terminate()
            served.wait(10)
        shutil.rmtree(work, ignore_errors=True)


def until(what, condition, timeout=20):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


class Attacker(http.server.ThreadingHTTPServer):
    """Another site, on 127.0.0.2: answers the pages put in `pages` and
    records every path it is asked for, beacons included. Thread-safe.
    origin is the site's as the browser reaches it, by address unless a
    host name is given."""

    def __init__(self, host_name="127.0.0.2"):
        super().__init__(("127.0.0.2", 0), AttackerHandler)
        self.origin = f"http://{host_name}:{self.server_address[1]}"
        self.lock = threading.Lock()  # guards pages and asked
        self.pages, self.asked = {}, []

    def page(self, path, body, content_type="text/html; charset=utf-8"):
        with self.lock:
            self.pages[path] = (content_type, body.encode())
        return self.origin + path

    def beacons(self, tag):
        with self.lock:
            return self.asked.count("/beacon/" + tag)

    def script(self, tag):
        """Markup that, where it runs, calls the beacon `tag`."""
        return (f'<x:script xmlns:x="http://www.w3.org/1999/xhtml">'
                f"fetch('{self.origin}/beacon/{tag}')</x:script>")


class AttackerHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        with self.server.lock:
            self.server.asked.append(self.path)
            content_type, body = self.server.pages.get(self.path, ("text/plain", b""))
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


@contextlib.contextmanager
def attacker_site(host_name="127.0.0.2"):
    """An Attacker serving on a thread of its own while the block runs."""
    attacker = Attacker(host_name)
    threading.Thread(target=attacker.serve_forever, daemon=True).start()
    try:
        yield attacker
    finally:
        attacker.shutdown()
        attacker.server_close()
