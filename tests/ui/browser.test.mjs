// SPDX-License-Identifier: MIT
// The web interface in a real browser: Debian's chromium, headless, driven by
// playwright-core, on `corvane ui --sim`. Run by scripts/test-browser.sh,
// which sets CORVANE_PLAYWRIGHT (playwright-core's module), CORVANE_TOOL and
// CORVANE_UI_SCREENSHOTS (where each page's screenshot goes).
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from "node:fs";
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

async function open(name) {
  await page.getByRole("link", { name, exact: true }).click();
  await page.getByRole("heading", { level: 1 }).first().waitFor();
}

test("the address with the token opens the bridges page, the token leaves it", async () => {
  await page.getByText(/^corvane \d/).waitFor();
  assert.equal(new URL(page.url()).search, "");
  await page.getByRole("cell", { name: "CVS000001" }).waitFor();
  await shoot("bridges");
});

test("bus: scan, a register set and read back, a combined transfer, the trace", async () => {
  await open("Bus");
  await page.getByRole("button", { name: "Scan" }).click();
  const grid = page.getByRole("table", { name: "scan" });
  for (const found of ["0b", "48", "50"]) await grid.getByRole("cell", { name: found, exact: true }).waitFor();
  assert.equal(await grid.locator("td.found").count(), 3);

  await page.getByLabel("address").fill("0x48");
  await page.getByLabel("register").fill("0x02");
  await page.getByLabel("value(s)").fill("0x46");
  await page.getByRole("button", { name: "Set" }).click();
  await page.getByLabel("register result").getByText("written 0x46").waitFor();
  assert.equal(corvane("get", "0x48", "0x02").trim(), "0x46");
  await page.getByLabel("value(s)").fill("");
  await page.getByRole("button", { name: "Get" }).click();
  await page.getByLabel("register result").getByText("read 0x46").waitFor();

  await page.getByLabel("messages").fill("w1@0x48 0x02 r1");
  await page.getByRole("button", { name: "Run" }).click();
  await page.getByLabel("transfer result").getByText("0x46").waitFor();
  // The set went over the bus as a write of register and value.
  await page.locator("table.trace tr", { hasText: "bus/set" }).getByText("02 46").waitFor();
  await shoot("bus");
});

test("EEPROM: a file written with progress, read back, verified", async () => {
  await open("EEPROM");
  const text = "Written from the browser test, page by page.\n".repeat(4);
  await page.getByLabel("file").setInputFiles({ name: "image.txt", mimeType: "text/plain", buffer: Buffer.from(text) });
  await page.getByRole("button", { name: "Write", exact: true }).click();
  await page.getByRole("status").getByText(`wrote ${text.length} bytes`).waitFor();
  assert.equal(await page.locator("progress").getAttribute("max"), String(text.length));
  const dump = path.join(scratch, "dump.bin");
  corvane("eeprom", "read", "0x50", "32K", "--length", String(text.length), "-o", dump);
  assert.equal(readFileSync(dump, "utf8"), text);

  await page.getByLabel("length").fill("0x40");
  await page.getByRole("button", { name: "Read", exact: true }).click();
  await page.getByLabel("EEPROM contents").getByText("|Written from th").waitFor();
  await page.getByRole("button", { name: "Verify" }).click();
  await page.getByRole("status").getByText("the EEPROM holds the file").waitFor();
  await shoot("eeprom");
});

test("pins: GP1 an ADC input, GP3 an output toggled", async () => {
  await open("Pins");
  await page.getByLabel("GP1 function").selectOption("adc");
  await page.getByLabel("GP3 function").selectOption("gpio-out-0");
  await page.getByRole("button", { name: "Apply functions" }).click();
  await page.getByRole("button", { name: "Toggle GP3" }).click();
  await page.getByLabel("GP3 level").getByText("1").waitFor();
  assert.equal(corvane("gpio", "get", "3").trim(), "1");
  await shoot("pins");
});

test("ADC: the plot draws the input as the virtual chip's voltage changes", async () => {
  await open("ADC");
  const count = page.getByLabel("sample count");
  await page.getByLabel("ADC1 millivolts").fill("2500");
  await page.getByRole("button", { name: "Apply" }).click();
  await page.getByText(/ADC1 \d+ \(2\.5\d\d V\)/).waitFor();
  const before = Number(await count.textContent());
  await page.getByLabel("ADC1 millivolts").fill("800");
  await page.getByRole("button", { name: "Apply" }).click();
  await page.getByText(/ADC1 \d+ \(0\.8\d\d V\)/).waitFor();
  assert.ok(Number(await count.textContent()) > before);
  // ADC1's line is on the canvas: pixels of its colour (#1d4f6e).
  const drawn = await page.evaluate(() => {
    const canvas = document.querySelector(".plot canvas");
    const { data } = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height);
    let pixels = 0;
    for (let i = 0; i < data.length; i += 4) {
      if (data[i] === 0x1d && data[i + 1] === 0x4f && data[i + 2] === 0x6e) ++pixels;
    }
    return pixels;
  });
  assert.ok(drawn > 0);
  await shoot("adc");
});

test("settings: a power-up setting checked, confirmed, written; the tool sees it", async () => {
  await open("Settings");
  await page.getByLabel("clock-divider power-up").waitFor();
  await open("USB");
  await page.getByLabel("current-ma power-up").fill("200");
  await page.getByRole("button", { name: "Check the changes" }).click();
  const plan = page.getByRole("region", { name: "planned changes" });
  await plan.getByRole("cell", { name: "current-ma" }).waitFor();
  await shoot("usb");
  await plan.getByRole("button", { name: "Write to flash" }).click();
  await page.getByRole("status").getByText("1 settings written").waitFor();
  assert.match(corvane("settings"), /^current-ma +- +200$/m);
  await open("Settings");
  await page.getByLabel("clock-divider power-up").waitFor();
  await shoot("settings");
});

test("no failure and no refused resource in the browser's console", () => {
  assert.deepEqual(problems, []);
});
