# SPDX-License-Identifier: MIT
"""A `corvane ui` server on the virtual chip for the API tests.

CORVANE_TOOL names the tool; CORVANE_TOOL_RUNNER, if set, the command that
runs it (cmake/wine-run.sh PREFIX for corvane.exe), and CORVANE_PATH_PREFIX
what goes before a path the tool is given ("Z:" under Wine).
"""

import http.client
import json
import os
import re
import select
import shlex
import subprocess
import time

import pytest

TOOL = os.environ["CORVANE_TOOL"]
RUNNER = shlex.split(os.environ.get("CORVANE_TOOL_RUNNER", ""))
PATH_PREFIX = os.environ.get("CORVANE_PATH_PREFIX", "")
# Wine's first start of a prefix takes a while.
START_SECONDS = 120 if RUNNER else 20


def tool_command(state, *args):
    return RUNNER + [TOOL, "--sim", "--sim-state", PATH_PREFIX + str(state), *args]


class Server:
    def __init__(self, state, *options):
        self.state = state
        self.process = subprocess.Popen(tool_command(state, *options, "ui", "--no-browser"),
                                        stdout=subprocess.PIPE)
        deadline = time.monotonic() + START_SECONDS
        printed = b""
        while True:
            ready, _, _ = select.select([self.process.stdout], [], [],
                                        max(deadline - time.monotonic(), 0))
            piece = os.read(self.process.stdout.fileno(), 4096) if ready else b""
            printed += piece
            found = re.search(rb"http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32})", printed)
            if found:
                self.port, self.token = int(found[1]), found[2].decode()
                return
            if not piece:
                self.stop()
                raise RuntimeError(f"corvane ui printed no address: {printed!r}")

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def request(self, method, path, body=None, headers=None, host=None, auth="header"):
        """(status, headers, body): with the token in the header, in the cookie
        (and the page's Origin on a change, as the page sends it), or none."""
        all_headers = {"Host": host or f"127.0.0.1:{self.port}"}
        if auth == "header":
            all_headers["X-Corvane-Token"] = self.token
        elif auth == "cookie":
            all_headers["Cookie"] = f"corvane-ui-{self.port}={self.token}"
            if method != "GET":
                all_headers["Origin"] = f"http://127.0.0.1:{self.port}"
        all_headers.update(headers or {})
        if isinstance(body, (dict, list)):
            body = json.dumps(body)
            all_headers["Content-Type"] = "application/json"
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            connection.request(method, path, body=body, headers=all_headers)
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    def api(self, method, path, body=None, status=200):
        """The JSON answer; fails unless it came with `status`."""
        got, _, answer = self.request(method, path, body)
        assert got == status, answer
        return json.loads(answer)

    def stream(self, path, body):
        """A streamed endpoint's lines: progress documents, then the result."""
        got, headers, answer = self.request("POST", path, body)
        assert got == 200 and headers["Content-Type"] == "application/x-ndjson", answer
        return [json.loads(line) for line in answer.splitlines()]


def corvane(state, *args):
    """What the tool's command prints on the same virtual chip."""
    done = subprocess.run(tool_command(state, *args), capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    return done.stdout


@pytest.fixture(scope="module")
def state(tmp_path_factory):
    return tmp_path_factory.mktemp("ui") / "sim-state.json"


@pytest.fixture(scope="module")
def server(state):
    running = Server(state)
    yield running
    running.stop()
