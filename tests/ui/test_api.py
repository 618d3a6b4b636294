"""The web interface's API over HTTP on the virtual chip: for each request the
status, the answer and what it did to the chip, read back with the tool's
own commands."""

import pytest

from conftest import corvane


def test_serves_session(server, state):
    version = corvane(state, "--version").split()[-1]
    assert server.api("GET", "/api/session") == {"version": version, "sim": True}


# Requests that must be refused (403) before they reach anything, and their
# allowed neighbours. (name, method, auth, extra headers, Host, status)
ACCESS = [
    ("token in the header", "GET", "header", {}, None, 200),
    ("cookie", "GET", "cookie", {}, None, 200),
    ("cookie, change with the page's Origin", "POST", "cookie", {}, None, None),
    ("Host localhost", "GET", "header", {}, "localhost:{port}", 200),
    ("no token", "GET", "none", {}, None, 403),
    ("wrong token", "GET", "none", {"X-Corvane-Token": "0" * 32}, None, 403),
    ("token cut short", "GET", "none", {"X-Corvane-Token": "{token31}"}, None, 403),
    ("wrong cookie", "GET", "none", {"Cookie": "corvane-ui-{port}=" + "0" * 32}, None, 403),
    ("another port's cookie", "GET", "none", {"Cookie": "corvane-ui-{port1}={token}"}, None, 403),
    ("foreign Origin", "GET", "header", {"Origin": "http://evil.example"}, None, 403),
    ("Origin of another port", "GET", "header", {"Origin": "http://127.0.0.1:{port1}"}, None, 403),
    ("cross-site fetch", "GET", "header", {"Sec-Fetch-Site": "cross-site"}, None, 403),
    ("Host not localhost", "GET", "header", {}, "evil.example:{port}", 403),
    ("Host with another port", "GET", "header", {}, "127.0.0.1:{port1}", 403),
    ("cookie, change without Origin", "POST", "none", {"Cookie": "corvane-ui-{port}={token}"}, None,
     403),
]


@pytest.mark.parametrize("name,method,auth,headers,host,status", ACCESS, ids=[a[0] for a in ACCESS])
def test_access(server, name, method, auth, headers, host, status):
    def fill(text):
        return text.format(port=server.port, port1=server.port + 1, token=server.token,
                           token31=server.token[:31])

    got, _, answer = server.request(method, "/api/session", None,
                                    {k: fill(v) for k, v in headers.items()},
                                    fill(host) if host else None, auth)
    # POST does not apply to the session: past the checks it is 405.
    assert got == (status or 405), answer


def test_first_visit_trades_the_token_for_a_cookie(server):
    status, headers, _ = server.request("GET", f"/?token={server.token}", auth="none")
    assert status == 303 and headers["Location"] == "/"
    assert headers["Set-Cookie"] == (f"corvane-ui-{server.port}={server.token}; Path=/; HttpOnly; "
                                     "SameSite=Strict")
    status, _, _ = server.request("GET", f"/?token={'0' * 32}", auth="none")
    assert status == 403


def test_page_and_its_policy(server):
    status, headers, body = server.request("GET", "/", auth="cookie")
    assert status == 200 and body.startswith(b"<!doctype html>")
    assert "frame-ancestors 'none'" in headers["Content-Security-Policy"]
    assert server.request("GET", "/vendor/LICENSE.preact", auth="cookie")[0] == 200
    assert server.request("GET", "/nothing.js", auth="cookie")[0] == 404
