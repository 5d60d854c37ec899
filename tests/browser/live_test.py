#!/usr/bin/python3
"""Two people on one server, each in a headless Chromium of their own: the
server list found by discovery, the tree following the other's changes,
and the metadata editor that never overwrites them unseen.

KIND names the web server and drop-in: lighttpd (scripts/serve.sh with
the FastCGI drop-in), apache2 or nginx (their stock configurations with
the FastCGI drop-in, scripts/serve-stock.sh), or cgi (lighttpd with the CGI
drop-in, where the page falls back to polling). corvane-sim runs with the
demo tree and announces itself, in the test's private network.

Each person opens the server from the list without typing. Under FastCGI
the page is live: a node one person makes, renames or destroys shows in
the other's tree, and an open editor says that its stream changed. Under
CGI the page says it polls, and a save checks the stored text first.

Usage: scripts/private-network.sh live_test.py SOURCE_DIR BUILD_DIR KIND
Exit status 77 (skipped) when chromium, its driver, selenium or the web
server is missing.
"""
import os
import select
import subprocess
import sys
import time

from staging import SKIP, serve as stage, session, start_browser as chromium
from pages import Page

SOURCE, BUILD = (os.path.abspath(p) for p in sys.argv[1:3])
KIND = sys.argv[3]
# The page shows another's change within a second on an idle machine (see
# the closing figures); 10 s holds on a loaded 2-core machine and still
# catches a page that only polls, every 30 s.
LIVE_BOUND_MS = 10000
# The second person's htpasswd line (htpasswd -nbm bob builder).
BOB = "bob:$apr1$qG8Q.Cj3$UDucJVnm9Ldm/zdDjwtmh0"
# Date.now(), in the page, when the row of the node called arguments[0]
# came into the tree (window.corvaneRowAt), and when it left
# (window.corvaneGoneAt).
ROW_TIMES = """const name = arguments[0], view = document.getElementById('tree');
window.corvaneRowAt = window.corvaneGoneAt = null;
const has = () => [...view.querySelectorAll('[role=treeitem] .name')].some((n) => n.textContent === name);
new MutationObserver(() => {
  if (window.corvaneRowAt === null && has()) window.corvaneRowAt = Date.now();
  else if (window.corvaneRowAt !== null && window.corvaneGoneAt === null && !has()) window.corvaneGoneAt = Date.now();
}).observe(view, { childList: true, subtree: true, characterData: true });"""
SIM_NAME = "Demo sim <&>"
# Date.now(), in the page, when the child form is next sent.
SUBMIT_TIME = """document.getElementById('child-form').addEventListener('submit',
  () => { window.corvaneSubmitAt = Date.now(); }, { capture: true, once: true });"""
STOCK = {"apache2": "/usr/sbin/apache2", "nginx": "/usr/sbin/nginx"}
if KIND in STOCK and not os.access(STOCK[KIND], os.X_OK):
    print(f"SKIPPED: {STOCK[KIND]} is missing (Debian package {KIND})")
    sys.exit(SKIP)


def stage_lighttpd(work):
    served, server, port = stage(SOURCE, BUILD, work, ("--display-name", SIM_NAME), discovery=True,
                                 env={"SERVE_KIND": "cgi" if KIND == "cgi" else "fastcgi"})
    with open(os.path.join(work, "corvane-gateway.htpasswd"), "a") as passwords:
        passwords.write(BOB + "\n")
    return served, server, port


def stage_stock(work):
    """The sim on a port of its own, and the web server as the README
    enables it: its drop-in admits the servers discovery lists. The web
    server works as www-data, which must reach into the scratch folder."""
    os.chmod(work, 0o755)
    sim = subprocess.Popen([os.path.join(BUILD, "bin", "corvane-sim"), "--port", "0", "--tree",
                            os.path.join(SOURCE, "sim", "demo-tree.txt"), "--call-log", os.path.join(work, "calls"),
                            "--display-name", SIM_NAME], stdout=subprocess.PIPE, text=True)
    web = subprocess.Popen([os.path.join(SOURCE, "scripts", "serve-stock.sh"), f"{KIND}-fastcgi",
                            os.path.join(work, "stock")], stdout=subprocess.PIPE, text=True)
    lines = []
    for process in (sim, web):
        ready, _, _ = select.select([process.stdout], [], [], 60)
        lines.append(process.stdout.readline().strip() if ready else "")
    if not all(lines):
        sim.kill()
        web.terminate()
        sys.exit(f"corvane-sim or {KIND} did not start")
    with open(os.path.join(work, "stock", "etc", KIND, "corvane-gateway.htpasswd"), "a") as passwords:
        passwords.write(BOB + "\n")
    return Both(sim, web), f"127.0.0.1:{lines[0]}", lines[1]


class Both:
    """Two staged processes stopped as one."""

    def __init__(self, *processes):
        self.processes = processes

    def terminate(self):
        for process in self.processes:
            process.terminate()

    def wait(self, timeout):
        for process in self.processes:
            process.wait(timeout)


def login(page, url, user):
    page.d.get(url)
    page.until("the user's name", lambda: page.text("#user") == user)


def choose_server(page, server):
    """The list shows the sim, found by discovery; a click opens its tree."""
    page.until("the server list", lambda: page.d.execute_script(
        "return [...document.querySelectorAll('#servers button')].map((b) => b.dataset.host)") == [server])
    facts = page.text("#servers .server-facts")
    assert facts == f"{server} · OBRAN · version 2014.0.0.6115", facts
    assert page.text("#servers .server-name") == SIM_NAME
    page.el("#servers button").click()
    page.until("the tree", lambda: page.names()[:2] == ["Demo server", "Media"])
    assert page.el("#host").get_property("value") == server
    assert page.el("#servers button").get_attribute("aria-current") == "true"
    page.shown("Demo server")


def live_state(page):
    return page.el("#live-status").get_attribute("data-state")


def pick(page, name):
    page.row(name).click()
    page.shown(name)


def open_stream(page, name, stream):
    if name not in page.names():
        page.twisty("Media")
        page.until("Media open", lambda: name in page.names())
    pick(page, name)
    page.until("the streams", lambda: page.d.find_elements("css selector", "#streams button"))
    page.el("#streams button").click()
    page.until("the editor", lambda: page.el("#stream-form").is_displayed())
    assert page.text("#stream-label") == f"Metadata stream {stream} of {name}"


def save(page, text):
    page.el("#stream-text").clear()
    page.el("#stream-text").send_keys(text)
    page.el("#stream-form button[type=submit]").click()


def made_and_destroyed(ann, bob):
    """Ann makes a node under Scratch and destroys it; Bob, who has Scratch
    open and the new node selected, sees both. The milliseconds from Ann's
    click to Bob's row, the creation included."""
    for page in (ann, bob):
        page.twisty("Scratch")
        page.until("Scratch read", lambda page=page: ("Scratch", "folder, no children") in [r[1:3] for r in page.rows()])
    pick(ann, "Scratch")
    bob.until("live", lambda: live_state(bob) == "live")
    bob.d.execute_script(ROW_TIMES, "Live one")
    ann.type("#child-name", "Live one")
    ann.d.execute_script(SUBMIT_TIME)
    ann.el("#child-form button").click()
    ann.outcome("#child-form", "Created /scratch/Live one.")
    made_at = ann.d.execute_script("return window.corvaneSubmitAt")
    row_at = bob.until("Bob's new row", lambda: bob.d.execute_script("return window.corvaneRowAt"), LIVE_BOUND_MS / 1000)
    pick(bob, "Live one")
    bob.until("live again", lambda: live_state(bob) == "live")
    pick(ann, "Live one")
    ann.el("#remove-form button").click()
    ann.until("the confirmation", lambda: ann.el("#confirm-destroy").is_displayed())
    ann.el("#confirm-destroy button[value=destroy]").click()
    ann.outcome("#remove-form", "Destroyed /scratch/Live one.")
    bob.until("Bob's row gone", lambda: bob.d.execute_script("return window.corvaneGoneAt"), LIVE_BOUND_MS / 1000)
    # The selection was in it: it moves to the folder, keeping the focus
    # in the tree.
    bob.shown("Scratch")
    assert bob.focused() == "Scratch", bob.focused()
    return row_at - made_at


def conflict_heard(ann, bob):
    """Bob's open editor says so when Ann saves the stream, and his Save
    then refuses until he chooses: overwrite saves his text."""
    open_stream(bob, "Trailer", "info")
    open_stream(ann, "Trailer", "info")
    bob.until("live", lambda: live_state(bob) == "live")
    save(ann, "<clip>Ann's</clip>")
    ann.outcome("#stream-form", "Saved info of /media/trailer.")
    bob.until("the warning", lambda: bob.el("#stream-conflict").is_displayed(), LIVE_BOUND_MS / 1000)
    save(bob, "<clip>Bob's</clip>")
    bob.outcome("#stream-form", "Not saved: the stream changed on the server. Reload it or overwrite it.", "error")
    assert [c for c in bob.calls("SetMetaData") if "Bob" in c] == []
    bob.el("#conflict-overwrite").click()
    bob.outcome("#stream-form", "Saved info of /media/trailer.")
    assert not bob.el("#stream-conflict").is_displayed()
    # Ann's own save warned her of nothing; Bob's does.
    ann.until("Ann's warning", lambda: ann.el("#stream-conflict").is_displayed(), LIVE_BOUND_MS / 1000)
    ann.el("#conflict-reload").click()
    ann.outcome("#stream-form", "Reloaded info.")
    assert ann.el("#stream-text").get_property("value") == "<clip>Bob's</clip>"


def conflict_checked(ann, bob):
    """Without events, Bob's save reads the stored text first and finds
    Ann's change."""
    open_stream(bob, "Trailer", "info")
    open_stream(ann, "Trailer", "info")
    save(ann, "<clip>Ann's</clip>")
    ann.outcome("#stream-form", "Saved info of /media/trailer.")
    assert not bob.el("#stream-conflict").is_displayed()
    save(bob, "<clip>Bob's</clip>")
    bob.outcome("#stream-form", "Not saved: the stream changed on the server. Reload it or overwrite it.", "error")
    assert bob.el("#stream-conflict").is_displayed()
    bob.el("#conflict-reload").click()
    bob.outcome("#stream-form", "Reloaded info.")
    assert bob.el("#stream-text").get_property("value") == "<clip>Ann's</clip>"
    save(bob, "<clip>Bob's</clip>")
    bob.outcome("#stream-form", "Saved info of /media/trailer.")


def run(ann, bob, server, base, ann_user):
    login(ann, base.replace("//", f"//{ann_user}@"), ann_user.split(":")[0])
    login(bob, base.replace("//", "//bob:builder@"), "bob")
    for page in (ann, bob):
        choose_server(page, server)
    if KIND == "cgi":
        for page in (ann, bob):
            page.until("polling", lambda page=page: live_state(page) == "polling")
        conflict_checked(ann, bob)
        return
    shown_ms = made_and_destroyed(ann, bob)
    conflict_heard(ann, bob)
    print(f"{KIND}: another's new node in the tree after {shown_ms} ms")


def main():
    staging = stage_stock if KIND in STOCK else stage_lighttpd
    ann_user = "alice:secret" if KIND in STOCK else "demo:demo"
    second = {}

    def browser(work):
        second["driver"] = chromium(os.path.join(work, "bob"))
        return chromium(work)

    with session("corvane-live-", staging, browser) as (driver, work, server, port):
        try:
            run(Page(driver, work), Page(second["driver"], work), server, f"http://127.0.0.1:{port}/corvane/",
                ann_user)
        finally:
            second["driver"].quit()


if __name__ == "__main__":
    started = time.monotonic()
    main()
    print(f"took {time.monotonic() - started:.1f} s")
