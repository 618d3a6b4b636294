// SPDX-License-Identifier: MIT
// The chip's settings, running and power-up side by side, as a form. A
// change is checked by the server first (what would change, and what it
// refuses), shown, and written only when confirmed; the password goes with
// it where the flash is protected.
import { useEffect, useState } from "/vendor/hooks.module.js";
import { api, Failure, html, useAction } from "/ui.js";

export const USB_KEYS = ["vid", "pid", "power-source", "remote-wakeup", "current-ma", "serial-enumeration",
  "manufacturer", "product", "serial"];

// The value as typed, of the type the bridge's value has.
function typed(original, text) {
  if (typeof original === "number" && text.trim() !== "" && !isNaN(Number(text))) return Number(text);
  return text;
}
const shown = (value) => (value === null || value === undefined ? "" : typeof value === "boolean" ? (value ? "on" : "off") : String(value));

const SIDES = [["current", "running"], ["power-up", "power-up (flash)"]];

export function SettingsForm({ title, keys }) {
  const [file, setFile] = useState(null);
  const [edits, setEdits] = useState({ current: {}, "power-up": {} });
  const [plan, setPlan] = useState(null);
  const [password, setPassword] = useState("");
  const [written, setWritten] = useState(null);
  const { busy, error, run } = useAction();
  const load = async () => {
    setFile(await api("/api/settings"));
    setEdits({ current: {}, "power-up": {} });
    setPlan(null);
  };
  useEffect(() => void run(load), []);
  if (!file) return html`<h1>${title}</h1><${Failure} error=${error} />`;

  const names = [...new Set([...Object.keys(file["power-up"]), ...Object.keys(file.current)])].filter((k) =>
    keys ? keys.includes(k) : !USB_KEYS.includes(k),
  );
  // The whole file with the edits in it: the server compares it with the bridge.
  const edited = () => {
    const next = structuredClone(file);
    for (const [side] of SIDES) {
      for (const [key, text] of Object.entries(edits[side])) next[side][key] = typed(file[side][key], text);
    }
    return next;
  };
  const edit = (side, key) => (e) => {
    setPlan(null);
    setWritten(null);
    setEdits({ ...edits, [side]: { ...edits[side], [key]: e.target.value } });
  };
  const check = () => run(async () => setPlan(await api("/api/settings/plan", { settings: edited() })));
  const write = () =>
    run(async () => {
      const body = { settings: edited(), confirmation: plan.confirmation };
      if (password) body.password = password;
      const result = await api("/api/settings/write", body);
      setWritten(result.changes.length);
      setPassword("");
      await load();
    });
  const protectedFlash = file["flash-protection"] && file["flash-protection"] !== "off";
  return html`
    <h1>${title}</h1>
    <section>
      <table class="settings">
        <thead><tr><th>setting</th>${SIDES.map(([, label]) => html`<th>${label}</th>`)}</tr></thead>
        <tbody>
          ${names.map(
            (key) => html`<tr class=${SIDES.some(([side]) => key in edits[side]) ? "changed" : ""}>
              <td>${key}</td>
              ${SIDES.map(([side]) =>
                key in file[side]
                  ? html`<td><input aria-label=${`${key} ${side}`} value=${edits[side][key] ?? shown(file[side][key])}
                      onInput=${edit(side, key)} /></td>`
                  : html`<td class="muted">-</td>`,
              )}
            </tr>`,
          )}
        </tbody>
      </table>
      <div class="row">
        <button onClick=${check} disabled=${busy}>Check the changes</button>
        <button class="plain" onClick=${() => run(load)} disabled=${busy}>Read again</button>
        ${written !== null && html`<span class="done" role="status">${written} settings written and read back</span>`}
      </div>
      <${Failure} error=${error} />
    </section>
    ${plan &&
    html`<section aria-label="planned changes">
      <h2>What will change</h2>
      ${plan.changes.length === 0 && html`<p>Nothing: the bridge has these settings.</p>`}
      ${plan.changes.length > 0 &&
      html`<table><thead><tr><th>setting</th><th>copy</th><th>now</th><th>then</th></tr></thead>
        <tbody>${plan.changes.map((c) => html`<tr><td>${c.key}</td><td>${c.copy}</td>
          <td class="mono">${shown(c.from)}</td><td class="mono">${shown(c.to)}</td></tr>`)}</tbody></table>`}
      ${plan.refusals.map((r) => html`<p class="failure">${r}</p>`)}
      ${plan.notes.map((n) => html`<p class="muted">${n}</p>`)}
      ${plan.changes.length > 0 && plan.refusals.length === 0 &&
      html`<div class="row">
        ${protectedFlash && html`<label>password <input type="password" aria-label="password" value=${password}
          onInput=${(e) => setPassword(e.target.value)} /></label>`}
        <button class=${plan["writes-flash"] ? "danger" : ""} onClick=${write} disabled=${busy}>
          ${plan["writes-flash"] ? "Write to flash" : "Apply"}</button>
      </div>`}
    </section>`}
  `;
}

export function SettingsPage() {
  return html`<${SettingsForm} title="Settings" />`;
}
