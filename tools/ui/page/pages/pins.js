// SPDX-License-Identifier: MIT
// GP0 to GP3: what each pin is (the running settings), its level, outputs
// toggled; the interrupt flag; the DAC.
import { useEffect, useState } from "/vendor/hooks.module.js";
import { api, Failure, html, useAction } from "/ui.js";

export function PinsPage() {
  const [pins, setPins] = useState(null);
  const [functions, setFunctions] = useState(["", "", "", ""]);
  const { busy, error, run } = useAction();
  const load = async () => {
    const state = await api("/api/pins");
    setPins(state);
    setFunctions(state.pins.map((p) => p.function));
  };
  useEffect(() => void run(load), []);
  const apply = () =>
    run(async () => {
      const change = {};
      functions.forEach((f, pin) => {
        if (f !== pins.pins[pin].function) change[`gp${pin}`] = f;
      });
      await api("/api/pins/config", change);
      await load();
    });
  const toggle = (pin) =>
    run(async () => {
      await api("/api/pins/set", { pin: String(pin), value: pins.levels[pin] ? "0" : "1" });
      await load();
    });
  const clearFlag = () => run(async () => (await api("/api/interrupt/clear", {}), load()));
  const [dac, setDac] = useState("");
  const setDacValue = () => run(async () => (await api("/api/dac", { value: dac }), load()));
  return html`
    <h1>Pins</h1>
    <${Failure} error=${error} />
    ${pins &&
    html`<section>
        <h2>GP0 to GP3 (running settings)</h2>
        <table>
          <thead><tr><th>pin</th><th>function</th><th>designation</th><th>direction</th><th>level</th><th></th></tr></thead>
          <tbody>
            ${pins.pins.map(
              (p) => html`<tr>
                <td>GP${p.pin}</td>
                <td><select aria-label=${`GP${p.pin} function`} value=${functions[p.pin]}
                  onChange=${(e) => setFunctions(functions.map((f, i) => (i === p.pin ? e.target.value : f)))}>
                  ${pins.functions[p.pin].map((f) => html`<option value=${f}>${f}</option>`)}</select></td>
                <td>${p.designation}</td><td>${p.direction ? "in" : "out"}</td>
                <td class="mono" aria-label=${`GP${p.pin} level`}>${pins.levels[p.pin] ?? "-"}</td>
                <td>${p.designation === 0 && !p.direction &&
                  html`<button class="plain" onClick=${() => toggle(p.pin)} disabled=${busy}>Toggle GP${p.pin}</button>`}</td>
              </tr>`,
            )}
          </tbody>
        </table>
        <div class="row"><button onClick=${apply} disabled=${busy}>Apply functions</button>
          <button class="plain" onClick=${() => run(load)} disabled=${busy}>Read again</button></div>
      </section>
      <section>
        <h2>Interrupt</h2>
        <div class="row">flag <strong aria-label="interrupt flag">${pins.interrupt.flag ? "set" : "clear"}</strong>
          <span class="muted">(detection: ${pins.interrupt.mode})</span>
          <button class="plain" onClick=${clearFlag} disabled=${busy}>Clear</button></div>
      </section>
      <section>
        <h2>DAC</h2>
        <div class="row">value <strong aria-label="DAC value">${pins.dac.value}</strong>/32 of ${pins.dac.reference}
          <label>new value <input class="short" value=${dac} onInput=${(e) => setDac(e.target.value)} placeholder="0-31" /></label>
          <button onClick=${setDacValue} disabled=${busy || dac === ""}>Set</button></div>
      </section>`}
  `;
}
