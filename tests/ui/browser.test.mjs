// The web interface in a real browser: Debian's chromium, headless, driven by
// playwright-core, on `corvane ui --sim`. Run by scripts/test-browser.sh,
// which sets CORVANE_PLAYWRIGHT (playwright-core's module), CORVANE_TOOL and
// CORVANE_UI_SCREENSHOTS (where each page's screenshot goes).
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { mkdirSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";

const { chromium } = await import(process.env.CORVANE_PLAYWRIGHT);
const tool = process.env.CORVANE_TOOL;
const shots = process.env.CORVANE_UI_SCREENSHOTS;
const scratch = mkdtempSync(path.join(tmpdir(), "corvane-ui-"));
const state = path.join(scratch, "sim-state.json");

// What the tool's own command says about the same virtual chip.
function corvane(...args) {
  return execFileSync(tool, ["--sim", "--sim-state", state, ...args], { encoding: "utf8" });
}

let server;
let browser;
let page;
const problems = [];

before(async () => {
  mkdirSync(shots, { recursive: true });
  server = spawn(tool, ["--sim", "--sim-state", state, "--sim-reset", "ui", "--no-browser"], {
    stdio: ["ignore", "pipe", "inherit"],
  });
  const url = await new Promise((resolve, reject) => {
    let printed = "";
    server.stdout.on("data", (data) => {
      printed += data;
      const found = printed.match(/http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]{32}/);
      if (found) resolve(found[0]);
    });
    server.on("exit", (code) => reject(new Error(`corvane ui ended (${code}): ${printed}`)));
  });
  browser = await chromium.launch({
    executablePath: "/usr/bin/chromium",
    chromiumSandbox: false,
    // This machine's network reaches nothing: nothing may try.
    args: [
      "--disable-gpu",
      "--disable-quic",
      "--no-first-run",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
    ],
  });
  page = await browser.newPage({ viewport: { width: 1200, height: 820 } });
  page.on("console", (message) => {
    if (message.type() === "error") problems.push(message.text());
  });
  page.on("pageerror", (error) => problems.push(error.message));
  await page.goto(url);
});

after(async () => {
  await browser?.close();
  server?.kill();
  rmSync(scratch, { recursive: true, force: true });
});

async function shoot(name) {
  await page.screenshot({ path: path.join(shots, `${name}.png`), fullPage: true });
}

test("the address with the token opens the page, the token leaves it", async () => {
  await page.getByText(/^corvane \d/).waitFor();
  await page.getByRole("heading", { name: "Bridges" }).waitFor();
  assert.equal(new URL(page.url()).search, "");
  await shoot("start");
  assert.deepEqual(problems, []);
});
