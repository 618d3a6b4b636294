# SPDX-License-Identifier: MIT
"""The web interface's API over HTTP on the virtual chip: for each request the
status, the answer and what it did to the chip, read back with the tool's
own commands."""

import json
import socket
import threading

import pytest

from conftest import PATH_PREFIX, Server, corvane


def test_serves_session(server, state):
    version = corvane(state, "--version").split()[-1]
    assert server.api("GET", "/api/session") == {"version": version, "sim": True}


# Requests that must be refused (403) before they reach anything, and their
# allowed neighbours: each sets a register, which must keep its value when
# the request is refused. (name, method, auth, extra headers, Host, status)
ACCESS = [
    ("token in the header", "header", {}, None, 200),
    ("cookie and the page's Origin", "cookie", {}, None, 200),
    ("Host localhost", "header", {}, "localhost:{port}", 200),
    ("no token", "none", {}, None, 403),
    ("wrong token", "none", {"X-Corvane-Token": "0" * 32}, None, 403),
    ("token cut short", "none", {"X-Corvane-Token": "{token31}"}, None, 403),
    ("wrong cookie", "none", {"Cookie": "corvane-ui-{port}=" + "0" * 32}, None, 403),
    ("another port's cookie", "none", {"Cookie": "corvane-ui-{port1}={token}"}, None, 403),
    ("token in the query", "none", {}, None, 403),
    ("foreign Origin", "header", {"Origin": "http://evil.example"}, None, 403),
    ("Origin of another port", "header", {"Origin": "http://127.0.0.1:{port1}"}, None, 403),
    ("cross-site fetch", "header", {"Sec-Fetch-Site": "cross-site"}, None, 403),
    ("Host not localhost", "header", {}, "evil.example:{port}", 403),
    ("Host with another port", "header", {}, "127.0.0.1:{port1}", 403),
    ("cookie without Origin", "none", {"Cookie": "corvane-ui-{port}={token}"}, None, 403),
]


@pytest.mark.parametrize("name,auth,headers,host,status", ACCESS, ids=[a[0] for a in ACCESS])
def test_access(server, state, name, auth, headers, host, status):
    def fill(text):
        return text.format(port=server.port, port1=server.port + 1, token=server.token,
                           token31=server.token[:31])

    server.api("POST", "/api/bus/set", {"address": "0x48", "register": "0x03", "values": ["0x50"]})
    query = f"?token={server.token}" if name == "token in the query" else ""
    got, _, answer = server.request(
        "POST", "/api/bus/set" + query,
        {"address": "0x48", "register": "0x03", "values": ["0x5a"]},
        {k: fill(v) for k, v in headers.items()}, fill(host) if host else None, auth)
    assert got == status, answer
    assert corvane(state, "get", "0x48", "0x03").strip() == ("0x5a" if status == 200 else "0x50")


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


# (request, arguments, status, what the answer holds, the command that shows
# the chip's state afterwards and what it prints)
REQUESTS = [
    ("/api/bus/scan", {}, 200, {"first": 8, "last": 0x77, "found": [0x0b, 0x48, 0x50]}, None),
    ("/api/bus/set", {"address": "0x48", "register": "0x02", "values": ["0x4b"]}, 200,
     {"address": 0x48, "register": 2, "mode": "b", "written": [0x4b]}, (["get", "0x48", "0x02"], "0x4b")),
    # The sensor keeps a word's nine high bits; SMBus sends its low byte first.
    ("/api/bus/set", {"address": "0x48", "register": "0x02", "values": ["0x8050"], "mode": "w"}, 200,
     {"written": [0x50, 0x80]}, (["get", "0x48", "0x02", "w"], "0x8050")),
    ("/api/bus/get", {"address": "0x48", "register": "0x02", "mode": "w"}, 200,
     {"value": 0x8050}, None),
    ("/api/bus/get", {"address": "0x51"}, 502,
     {"code": -23, "name": "I2C_NOT_ACKNOWLEDGED"}, None),
    ("/api/bus/set", {"address": "0xa0", "register": "0", "values": ["1"]}, 400,
     {"code": 2, "name": "USAGE"}, None),
    ("/api/bus/set", {"address": "0x48", "register": "0x100", "values": ["1"]}, 400,
     {"name": "USAGE"}, None),
    ("/api/bus/transfer", {"messages": "w3@0x50 0x00 0x10 0x77"}, 200, {}, (["transfer", "w2@0x50", "0x00", "0x10", "r1"], "0x77")),
    ("/api/bus/transfer", {"messages": "w2@0x50 0x00 0x10 r1"}, 200,
     {"messages": [{"address": 0x50, "direction": "write", "data": [0, 0x10]},
                   {"address": 0x50, "direction": "read", "data": [0x77]}]}, None),
    ("/api/bus/transfer", {"messages": "w1@0x48 0x00 r2@0x50"}, 502,
     {"name": "I2CBUS_NOT_SUPPORTED"}, None),
    ("/api/pins/config", {"gp3": "gpio-out-1", "gp1": "adc"}, 200, {},
     (["gpio", "get", "3"], "1")),
    ("/api/pins/config", {"gp0": "adc"}, 400, {"name": "USAGE"}, None),
    ("/api/pins/set", {"pin": "3", "value": "0"}, 200, {"pin": 3, "value": 0}, (["gpio", "get", "3"], "0")),
    ("/api/dac", {"value": "31"}, 200, {"value": 31}, (["--json", "dac"], '"value": 31')),
    ("/api/dac", {"value": "32"}, 400, {"name": "USAGE"}, None),
    ("/api/interrupt/clear", {}, 200, {"cleared": True}, None),
    ("/api/sim/adc", {"channel": "0", "millivolts": "1200"}, 200, {}, None),
    ("/api/sim/adc", {"channel": "3", "millivolts": "1200"}, 400, {"name": "USAGE"}, None),
    ("/api/adc", {"vdd": "3.3"}, 200, {"reference": "vdd", "adc-input": [True, False, False]}, None),
    ("/api/bridges/select", {"serial": "CVS999999"}, 502, {"name": "BRIDGE_NOT_FOUND"}, None),
    ("/api/nothing", {}, 404, {"name": "USAGE"}, None),
]


@pytest.mark.parametrize("path,arguments,status,answer,shown", REQUESTS,
                         ids=[f"{r[0]} {r[1]}" for r in REQUESTS])
def test_request(server, state, path, arguments, status, answer, shown):
    got = server.api("POST", path, arguments, status=status)
    assert {key: got[key] for key in answer} == answer
    if shown:
        command, text = shown
        assert text in corvane(state, *command)


def test_the_bridge_chosen_by_serial_is_the_one_worked_on(tmp_path):
    state = tmp_path / "sim-state.json"
    server = Server(state, "--sim-bridges", "2")
    try:
        def chosen(answer):
            return [(d["serial"], d["selected"]) for d in answer["devices"]]

        assert chosen(server.api("GET", "/api/bridges")) == [("CVS000001", True), ("CVS000002", False)]
        assert chosen(server.api("POST", "/api/bridges/select", {"serial": "CVS000002"})) == [
            ("CVS000001", False), ("CVS000002", True)]
        server.api("POST", "/api/dac", {"value": "7"})
        assert server.api("GET", "/api/pins")["dac"]["value"] == 7
        for serial, value in (("CVS000001", 0), ("CVS000002", 7)):
            shown = corvane(state, "--sim-bridges", "2", "--serial", serial, "--json", "dac")
            assert json.loads(shown)["value"] == value
    finally:
        server.stop()


def test_adc_follows_the_virtual_input(server):
    server.api("POST", "/api/pins/config", {"gp1": "adc"})
    for millivolts in ("600", "2400"):
        server.api("POST", "/api/sim/adc", {"channel": "0", "millivolts": millivolts})
        volts = server.api("POST", "/api/adc", {"vdd": "3.3"})["volts"][0]
        assert abs(volts - int(millivolts) / 1000) < 0.01


IMAGE = bytes(range(256)) * 16  # 4 KiB: 64 pages


def test_eeprom_write_streams_progress_then_reads_back(server, state, tmp_path):
    lines = server.stream("/api/eeprom/write",
                          {"address": "0x50", "size": "32K", "offset": "0x100", "data": IMAGE.hex()})
    assert lines[-1]["result"]["written"] == len(IMAGE) and lines[-1]["result"]["verified"]
    stages = {}
    for line in lines[:-1]:
        stages.setdefault(line["progress"]["stage"], []).append(line["progress"]["done"])
    # Written page by page, then read back to compare.
    assert list(stages) == ["eeprom write", "eeprom verify"]
    for done in stages.values():
        assert done == sorted(done) and done[-1] == len(IMAGE)
    read = server.stream("/api/eeprom/read", {"address": "0x50", "size": "32K", "offset": "0x100",
                                             "length": str(len(IMAGE))})
    assert bytes.fromhex(read[-1]["result"]["data"]) == IMAGE
    dump = tmp_path / "dump.bin"
    corvane(state, "eeprom", "read", "0x50", "32K", "--offset", "0x100", "--length",
            str(len(IMAGE)), "-o", PATH_PREFIX + str(dump))
    assert dump.read_bytes() == IMAGE


def test_a_client_gone_mid_write_leaves_the_bridge_usable(server, state):
    """The write stops between pages; the next request is served and the
    EEPROM holds the new data up to a page boundary, the old after it."""
    server.stream("/api/eeprom/write", {"address": "0x50", "size": "32K", "offset": "0",
                                        "data": (b"\xff" * len(IMAGE)).hex()})
    body = json.dumps({"address": "0x50", "size": "32K", "offset": "0", "data": IMAGE.hex()})
    with socket.create_connection(("127.0.0.1", server.port)) as sock:
        sock.sendall((f"POST /api/eeprom/write HTTP/1.1\r\nHost: 127.0.0.1:{server.port}\r\n"
                      f"X-Corvane-Token: {server.token}\r\nContent-Type: application/json\r\n"
                      f"Content-Length: {len(body)}\r\n\r\n{body}").encode())
        answer = b""
        while b'"progress"' not in answer:
            answer += sock.recv(4096)
    read = server.stream("/api/eeprom/read", {"address": "0x50", "size": "32K", "length": str(len(IMAGE))})
    held = bytes.fromhex(read[-1]["result"]["data"])
    boundary = next((i for i in range(0, len(IMAGE), 64) if held[i:] == b"\xff" * (len(IMAGE) - i)), None)
    assert boundary is not None and held[:boundary] == IMAGE[:boundary]
    assert boundary < len(IMAGE), "the write was not stopped"


def test_requests_are_served_one_at_a_time(server):
    """A request that comes while an EEPROM write runs waits for it: the
    trace shows the write's transfers unbroken."""
    server.api("POST", "/api/bus/trace/clear", {})
    writer = threading.Thread(target=server.stream, args=("/api/eeprom/write", {
        "address": "0x50", "size": "32K", "offset": "0", "data": IMAGE.hex()}))
    writer.start()
    for _ in range(5):
        server.api("POST", "/api/bus/get", {"address": "0x48", "register": "0x00"})
    writer.join()
    requests = [t["request"] for t in server.api("GET", "/api/bus/trace")["transfers"]]
    runs = [r for i, r in enumerate(requests) if i == 0 or requests[i - 1] != r]
    assert runs.count("/api/eeprom/write") == 1


def test_settings_are_written_only_as_confirmed(server, state):
    settings = server.api("GET", "/api/settings")
    settings["power-up"]["product"] = "Bench bridge"
    write = {"settings": settings}
    assert server.api("POST", "/api/settings/write", write, status=428)["name"] == "NOT_CONFIRMED"
    plan = server.api("POST", "/api/settings/plan", {"settings": settings})
    assert [(c["key"], c["copy"], c["to"]) for c in plan["changes"]] == [
        ("product", "power-up", "Bench bridge")]
    assert plan["writes-flash"]
    # A confirmation is for the plan it came with, once.
    settings["power-up"]["product"] = "Another"
    assert server.api("POST", "/api/settings/write",
                      {"settings": settings, "confirmation": plan["confirmation"]}, status=428)
    assert "Corvane USB-I2C Bridge" in corvane(state, "settings", "get", "product")
    settings["power-up"]["product"] = "Bench bridge"
    plan = server.api("POST", "/api/settings/plan", {"settings": settings})
    server.api("POST", "/api/settings/write", {"settings": settings, "confirmation": plan["confirmation"]})
    assert corvane(state, "settings", "get", "product").strip() == "Bench bridge"
    assert server.api("POST", "/api/settings/write",
                      {"settings": settings, "confirmation": plan["confirmation"]}, status=428)


def test_pipelined_requests_are_answered_in_order(server):
    request = (f"GET /api/session HTTP/1.1\r\nHost: 127.0.0.1:{server.port}\r\n"
               f"X-Corvane-Token: {server.token}\r\n")
    with socket.create_connection(("127.0.0.1", server.port), timeout=10) as sock:
        sock.sendall((request + "\r\n" + request + "Connection: close\r\n\r\n").encode())
        answer = b""
        while chunk := sock.recv(4096):
            answer += chunk
    assert answer.count(b"HTTP/1.1 200 OK") == 2 and answer.count(b'"sim":true') == 2
