// SPDX-License-Identifier: MIT
// A 24-series EEPROM on the bus: read into a hex view and download, write a
// file page by page with a progress bar, compare with a file.
import { useState } from "/vendor/hooks.module.js";
import { Failure, html, stream, useAction } from "/ui.js";

const toHex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join("");
const fromHex = (text) => Uint8Array.from(text.match(/../g) ?? [], (p) => parseInt(p, 16));

// As `corvane eeprom read` shows it: 16 bytes a line, their text beside them.
function HexView({ bytes, offset }) {
  const lines = [];
  for (let i = 0; i < bytes.length; i += 16) {
    const row = bytes.subarray(i, i + 16);
    const hexes = Array.from(row, (b) => b.toString(16).padStart(2, "0")).join(" ");
    const text = Array.from(row, (b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : ".")).join("");
    lines.push(`${(offset + i).toString(16).padStart(4, "0")}: ${hexes.padEnd(47)}  |${text}|`);
  }
  return html`<pre aria-label="EEPROM contents">${lines.join("\n")}</pre>`;
}

export function EepromPage() {
  const [chip, setChip] = useState({ address: "0x50", size: "32K", page: "64", offset: "0", length: "" });
  const [contents, setContents] = useState(null);
  const [file, setFile] = useState(null);
  const [progress, setProgress] = useState(null);
  const [outcome, setOutcome] = useState(null);
  const { busy, error, run } = useAction();
  const field = (name) => (e) => setChip({ ...chip, [name]: e.target.value });
  const request = (extra) => ({ ...chip, ...extra });
  const track = (p) => setProgress(p);

  const read = () =>
    run(async () => {
      setOutcome(null);
      const r = await stream("/api/eeprom/read", request(), track);
      setContents({ bytes: fromHex(r.data), offset: r.offset });
    });
  const write = () =>
    run(async () => {
      setOutcome(null);
      const data = new Uint8Array(await file.arrayBuffer());
      const r = await stream("/api/eeprom/write", request({ data: toHex(data) }), track);
      setOutcome(`wrote ${r.written} bytes in ${r.pages} page writes${r.verified ? ", read back and verified" : ""}`);
    });
  const verify = () =>
    run(async () => {
      setOutcome(null);
      const data = new Uint8Array(await file.arrayBuffer());
      const r = await stream("/api/eeprom/verify", request({ data: toHex(data) }), track);
      setOutcome(r.differences === 0 ? `the EEPROM holds the file (${r.compared} bytes)` :
        `${r.differences} bytes differ, the first at ${r["first-difference"]}`);
    });
  const download = () => {
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([contents.bytes]));
    link.download = `eeprom-${chip.address}.bin`;
    link.click();
    URL.revokeObjectURL(link.href);
  };

  return html`
    <h1>EEPROM</h1>
    <section>
      <div class="row">
        <label>address <input class="short" value=${chip.address} onInput=${field("address")} /></label>
        <label>size <input class="short" value=${chip.size} onInput=${field("size")} /></label>
        <label>page <input class="short" value=${chip.page} onInput=${field("page")} /></label>
        <label>offset <input class="short" value=${chip.offset} onInput=${field("offset")} /></label>
        <label>length <input class="short" value=${chip.length} onInput=${field("length")} placeholder="all" /></label>
      </div>
      <div class="row">
        <button onClick=${read} disabled=${busy}>Read</button>
        <button class="plain" onClick=${download} disabled=${busy || !contents}>Download</button>
      </div>
      <div class="row">
        <label>file <input type="file" aria-label="file" onChange=${(e) => setFile(e.target.files[0] ?? null)} /></label>
        <button onClick=${write} disabled=${busy || !file}>Write</button>
        <button class="plain" onClick=${verify} disabled=${busy || !file}>Verify</button>
      </div>
      ${progress && html`<div class="row"><progress max=${progress.total} value=${progress.done}></progress>
        <span class="muted">${progress.stage}: ${progress.done} of ${progress.total} bytes</span></div>`}
      ${outcome && html`<p class="done" role="status">${outcome}</p>`}
      <${Failure} error=${error} />
    </section>
    ${contents && html`<${HexView} bytes=${contents.bytes} offset=${contents.offset} />`}
  `;
}
