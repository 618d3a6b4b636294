// SPDX-License-Identifier: MIT
// The I2C bus: a scan drawn as i2cdetect draws it, registers read and
// written in i2c-tools' modes, combined transfers in i2ctransfer's words, and
// what each of them did on the bus.
import { useEffect, useState } from "/vendor/hooks.module.js";
import { api, Failure, hex, html, useAction } from "/ui.js";

function ScanGrid({ scan }) {
  const found = new Set(scan.found);
  const rows = [];
  for (let row = 0; row < 0x80; row += 16) {
    const cells = [];
    for (let col = 0; col < 16; ++col) {
      const a = row + col;
      if (a < scan.first || a > scan.last) cells.push(html`<td></td>`);
      else if (found.has(a)) cells.push(html`<td class="found">${a.toString(16).padStart(2, "0")}</td>`);
      else cells.push(html`<td class="absent">--</td>`);
    }
    rows.push(html`<tr><th>${row.toString(16).padStart(2, "0")}:</th>${cells}</tr>`);
  }
  return html`<table class="grid mono" aria-label="scan">
    <thead><tr><th></th>${[...Array(16).keys()].map((c) => html`<th>${c.toString(16)}</th>`)}</tr></thead>
    <tbody>${rows}</tbody>
  </table>`;
}

function Trace({ transfers, onClear }) {
  return html`<section>
    <h2>What went over the bus</h2>
    <div class="row"><button class="plain" onClick=${onClear}>Clear</button>
      <span class="muted">S start, Sr repeated start, P stop; the latest last</span></div>
    <table class="mono trace">
      <thead><tr><th>request</th><th></th><th>address</th><th></th><th>bytes</th><th></th><th>outcome</th></tr></thead>
      <tbody>
        ${transfers.slice(-200).map(
          (t) => html`<tr>
            <td>${t.request.replace("/api/", "")}</td>
            <td>${t["repeated-start"] ? "Sr" : "S"}</td>
            <td>${hex(t.address)}</td><td>${t.read ? "R" : "W"}</td>
            <td>${t.data.match(/../g)?.join(" ") ?? ""}</td>
            <td>${t.stop ? "P" : ""}</td>
            <td class=${t.outcome === "done" ? "" : "invalid"}>${t.outcome}</td>
          </tr>`,
        )}
      </tbody>
    </table>
  </section>`;
}

export function BusPage() {
  const [scan, setScan] = useState(null);
  const [reg, setReg] = useState({ address: "0x48", register: "0x00", mode: "b", values: "", pec: false });
  const [regResult, setRegResult] = useState(null);
  const [messages, setMessages] = useState("w2@0x50 0x00 0x00 r8");
  const [transferResult, setTransferResult] = useState(null);
  const [transfers, setTransfers] = useState([]);
  const scanAction = useAction();
  const regAction = useAction();
  const transferAction = useAction();
  const refreshTrace = async () => setTransfers((await api("/api/bus/trace")).transfers);
  useEffect(() => void refreshTrace(), []);
  const after = async (action) => {
    try {
      return await action();
    } finally {
      await refreshTrace();
    }
  };
  const field = (name) => (e) => setReg({ ...reg, [name]: e.target.type === "checkbox" ? e.target.checked : e.target.value });
  const regRequest = () => ({
    address: reg.address,
    register: reg.register,
    mode: reg.mode,
    pec: reg.pec,
    values: reg.values.split(/\s+/).filter(Boolean),
  });
  const showRegister = (r) =>
    "value" in r ? hex(r.value, reg.mode === "w" ? 4 : 2) : r.data.map((b) => hex(b)).join(" ");

  return html`
    <h1>Bus</h1>
    <section>
      <h2>Scan</h2>
      <div class="row"><button onClick=${() => scanAction.run(() => after(async () => setScan(await api("/api/bus/scan", {}))))}
        disabled=${scanAction.busy}>Scan</button></div>
      <${Failure} error=${scanAction.error} />
      ${scan && html`<${ScanGrid} scan=${scan} />`}
    </section>
    <section>
      <h2>Register</h2>
      <div class="row">
        <label>address <input class="short" value=${reg.address} onInput=${field("address")} /></label>
        <label>register <input class="short" value=${reg.register} onInput=${field("register")} /></label>
        <label>mode <select value=${reg.mode} onChange=${field("mode")}>
          <option value="b">b byte</option><option value="w">w word</option>
          <option value="c">c write byte / read byte</option><option value="s">s SMBus block</option>
          <option value="i">i I2C block</option></select></label>
        <label><input type="checkbox" checked=${reg.pec} onChange=${field("pec")} /> PEC</label>
      </div>
      <div class="row">
        <label>value(s) <input value=${reg.values} onInput=${field("values")} placeholder="0x50 0x00" /></label>
        <button onClick=${() => regAction.run(() => after(async () => setRegResult("read " + showRegister(await api("/api/bus/get", regRequest())))))}
          disabled=${regAction.busy}>Get</button>
        <button onClick=${() => regAction.run(() => after(async () => {
          const r = await api("/api/bus/set", regRequest());
          setRegResult("written " + r.written.map((b) => hex(b)).join(" "));
        }))} disabled=${regAction.busy}>Set</button>
        ${regResult && html`<span class="mono done" aria-label="register result">${regResult}</span>`}
      </div>
      <${Failure} error=${regAction.error} />
    </section>
    <section>
      <h2>Combined transfer</h2>
      <div class="row">
        <label>messages <input class="mono" size="40" value=${messages} onInput=${(e) => setMessages(e.target.value)} /></label>
        <button onClick=${() => transferAction.run(() => after(async () => setTransferResult(await api("/api/bus/transfer", { messages }))))}
          disabled=${transferAction.busy}>Run</button>
      </div>
      <p class="muted">As i2ctransfer writes them: w2@0x50 0x00 0x40 r8 — a write, then a read of the same address after a repeated START.</p>
      <${Failure} error=${transferAction.error} />
      ${transferResult && html`<pre aria-label="transfer result">${transferResult.messages
        .filter((m) => m.direction === "read")
        .map((m) => m.data.map((b) => hex(b)).join(" "))
        .join("\n")}</pre>`}
    </section>
    <${Trace} transfers=${transfers} onClear=${async () => {
      await api("/api/bus/trace/clear", {});
      await refreshTrace();
    }} />
  `;
}
