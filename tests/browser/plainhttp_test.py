#!/usr/bin/python3
"""Another site attacks the gateway over plain http reached by host name.

Chromium maps gw.test to 127.0.0.1, where lighttpd serves the gateway with
its FastCGI drop-in as shipped and the demo user's login, and evil.test to
127.0.0.2, the attacker's site. Neither is a secure origin, so Chromium
sends no Sec-Fetch-Site at all, and no Origin on a GET: lighttpd's access
log shows it for every attack. A link and a GET form on evil.test try
destroyNodeRecursive, createNode and saveUser as the logged-in user; each
must reach the gateway with the login (status 405 and user demo in the
access log, the refusal in the error log) and change nothing (the sim's
call log, the account files). A POST form from there carries an Origin
and is refused as cross-site. The page itself, on gw.test, still writes.

Usage: scripts/private-network.sh plainhttp_test.py SOURCE_DIR BUILD_DIR
Exit status 77 (skipped) when chromium, its driver or selenium is missing.
"""
import html
import os
import re
import sys
import urllib.parse

from staging import attacker_site, serve as stage, session, start_browser, until
from selenium.webdriver.common.by import By

SOURCE, BUILD = (os.path.abspath(p) for p in sys.argv[1:3])
RESOLVE = "--host-resolver-rules=MAP gw.test 127.0.0.1, MAP evil.test 127.0.0.2"
ACCOUNT = "var/lib/corvane-gateway/account"
CROSS_SITE = "Cross-site request refused on host"


def hidden(form):
    return "".join(f'<input type="hidden" name="{html.escape(name)}" value="{html.escape(value)}">'
                   for name, value in form.items())


# What a page on another site makes the browser send with a GET: the
# attack's name, whether it needs a click on #lure, and the page, given the
# gateway's URL and the form.
ATTACKS = [
    ("link", True, lambda url, form: (
        f'<a id="lure" href="{html.escape(url + "?" + urllib.parse.urlencode(form))}">Win</a>')),
    ("GET form", False, lambda url, form: (
        f'<form method="get" action="{html.escape(url)}">{hidden(form)}</form>'
        "<script>document.forms[0].submit()</script>")),
]


def mode_forms(server):
    return {
        "destroyNodeRecursive": {"mode": "destroyNodeRecursive", "host": server, "nodeId": "/projects"},
        "createNode": {"mode": "createNode", "host": server, "nodeId": "/scratch", "displayName": "Pwned",
                       "type": "FOLDER"},
        "saveUser": {"mode": "saveUser", "host": "-", "nodeId": "-",
                     "corvaneMetadata": "<prefs><server>evil.test</server></prefs>"},
    }


class Gateway:
    """What lighttpd, the gateway and the sim record in the staging folder."""

    def __init__(self, work, port):
        self.work = work
        self.host = f"gw.test:{port}"
        self.url = f"http://gw.test:{port}/corvane-gateway"
        self.page = f"http://gw.test:{port}/corvane/"

    def read(self, name):
        path = os.path.join(self.work, name)
        return open(path, "rb").read() if os.path.exists(path) else None

    def state(self):
        """What a successful attack would change: the account files and the
        calls the sim received."""
        folder = os.path.join(self.work, ACCOUNT)
        return {name: self.read(f"{ACCOUNT}/{name}") for name in os.listdir(folder)}, self.read("calls")

    def errors(self, text):
        return (self.read("error.log") or b"").decode(errors="replace").count(text)

    def requests(self, method, mode=None):
        """The access log's requests to the gateway with that method (and
        mode in the query): {"status", "user", "host", "origin", "site"}
        each, oldest first, less lighttpd's challenges that the browser
        answered with the login. lighttpd writes the log a moment after
        the answer."""
        found = []
        for line in (self.read("access.log") or b"").decode(errors="replace").splitlines():
            match = re.fullmatch(r"(\S+) /corvane-gateway \?(\S*) (\d+) (\S+) host=(\S*) origin=(\S*) site=(\S*)", line)
            if not match or match[1] != method or match[3] == "401":
                continue
            if mode and f"mode={mode}" not in match[2].split("&"):
                continue
            found.append({"status": int(match[3]), "user": match[4], "host": match[5], "origin": match[6],
                          "site": match[7]})
        return found


def attack(d, gateway, attacker, forms):
    """Each attack page with each mode: the gateway refuses each one."""
    for kind, click, page in ATTACKS:
        for mode, form in forms.items():
            what = f"{kind} trying {mode}"
            refusal = f"Mode '{mode}' needs a POST request on host {form['host']}"
            before, refusals = gateway.state(), gateway.errors(refusal)
            d.get(attacker.page(f"/{kind}/{mode}".replace(" ", "-"), page(gateway.url, form)))
            if click:
                d.find_element(By.ID, "lure").click()
            until(f"the gateway to answer the {what}",
                  lambda: gateway.errors(refusal) > refusals or gateway.state() != before)
            assert gateway.state() == before, f"the {what} changed something"


def post_from_evil(d, gateway, attacker, server):
    """A POST form from the other site: refused as cross-site."""
    form = {"mode": "destroyNodeRecursive", "host": server, "nodeId": "/projects"}
    before, refused = gateway.state(), gateway.errors(CROSS_SITE)
    d.get(attacker.page("/POST-form", f'<form method="post" action="{html.escape(gateway.url)}">{hidden(form)}'
                                      "</form><script>document.forms[0].submit()</script>"))
    until("the refusal of the POST form", lambda: gateway.errors(CROSS_SITE) > refused)
    assert gateway.state() == before, "the POST form changed something"


def check_headers(gateway, attacker, forms):
    """What the browser sent, as lighttpd logged it: the attacks' GETs with
    the login and without a word of where they came from, the other site's
    POST with its Origin, the page's POSTs with their own."""
    gets = lambda mode: gateway.requests("GET", mode)
    evil = lambda: [r for r in gateway.requests("POST") if r["origin"] == attacker.origin]
    until("the access log", lambda: all(len(gets(mode)) == len(ATTACKS) for mode in forms) and evil())
    for mode in forms:
        expected = {"status": 405, "user": "demo", "host": gateway.host, "origin": "-", "site": "-"}
        assert gets(mode) == [expected] * len(ATTACKS), f"{mode} was sent as {gets(mode)}"
    assert evil() == [{"status": 403, "user": "demo", "host": gateway.host, "origin": attacker.origin,
                       "site": "-"}], evil()
    page = [r for r in gateway.requests("POST") if r["origin"] != attacker.origin]
    assert page and all(r == {"status": 200, "user": "demo", "host": gateway.host,
                              "origin": "http://" + gateway.host, "site": "-"} for r in page), page


def main():
    with attacker_site("evil.test") as attacker, session(
            "corvane-plainhttp-",
            lambda work: stage(SOURCE, BUILD, work, discovery=True,
                               env={"SERVE_KIND": "fastcgi", "SERVE_ACCESS_LOG": "1"}),
            lambda work: start_browser(work, (RESOLVE,))) as (d, work, server, port):
        gateway = Gateway(work, port)
        # The login is cached for gw.test as a person's is: once typed, the
        # browser answers every challenge from that site with it.
        d.get(f"http://demo:demo@{gateway.host}/corvane/")
        until("the user's name", lambda: d.find_element(By.ID, "user").get_property("textContent") == "demo")
        forms = mode_forms(server)
        attack(d, gateway, attacker, forms)
        post_from_evil(d, gateway, attacker, server)
        # The page still writes: opening a server saves it as the user's.
        d.get(f"{gateway.page}#host={server}")
        until("the page's save", lambda: server.encode() in (gateway.read(f"{ACCOUNT}/demo.xml") or b""))
        check_headers(gateway, attacker, forms)


if __name__ == "__main__":
    main()
