"""What the browser tests share: the skip when Chromium, its driver,
lighttpd or selenium is missing (exit status 77), the staging of
corvane-sim and lighttpd through scripts/serve.sh, a headless Chromium, and
a test's session of both.
Importing it checks the first; run the tests through
scripts/private-network.sh."""
import contextlib
import os
import select
import shutil
import subprocess
import sys
import tempfile

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


def serve(source, build, work, sim_options=(), env=None, discovery=False):
    """corvane-sim and lighttpd as scripts/serve.sh starts them: the process,
    the server's address and the HTTP port. Without discovery every gateway
    request waits a second for servers to answer a search; with it, the sim
    answers the search at once, in the test's private network."""
    served = subprocess.Popen(
        [os.path.join(source, "scripts", "serve.sh"), work, *(() if discovery else ("--no-discovery",)),
         "--call-log", os.path.join(work, "calls"), *sim_options],
        stdout=subprocess.PIPE, env=dict(os.environ, BUILD=build, **(env or {})), text=True)
    ready, _, _ = select.select([served.stdout], [], [], 60)
    ports = served.stdout.readline().split() if ready else []
    if len(ports) != 2:
        served.kill()
        sys.exit("scripts/serve.sh did not start corvane-sim and lighttpd")
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
