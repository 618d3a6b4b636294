// SPDX-License-Identifier: MIT
// The bridges attached, as `corvane list` finds them; the one chosen here is
// the one every other page works on.
import { useEffect, useState } from "/vendor/hooks.module.js";
import { api, Failure, html, useAction } from "/ui.js";

export function BridgesPage() {
  const [devices, setDevices] = useState(null);
  const { busy, error, run } = useAction();
  const refresh = () => run(async () => setDevices((await api("/api/bridges")).devices));
  useEffect(() => void refresh(), []);
  const select = (device) =>
    run(async () => {
      const choice = device.serial && device.serial !== "?" ? { serial: device.serial } : { path: device.path };
      setDevices((await api("/api/bridges/select", choice)).devices);
    });
  return html`
    <h1>Bridges</h1>
    <section>
      <div class="row"><button class="plain" onClick=${refresh} disabled=${busy}>Search again</button></div>
      <${Failure} error=${error} />
      ${devices &&
      html`<table>
        <thead><tr><th></th><th>#</th><th>serial number</th><th>product</th><th>manufacturer</th>
          <th>firmware</th><th>hardware</th><th>path</th><th></th></tr></thead>
        <tbody>
          ${devices.map(
            (d) => html`<tr>
              <td>${d.selected ? "●" : ""}</td><td>${d.index}</td>
              <td class="mono">${d.serial}</td><td>${d.product}</td><td>${d.manufacturer}</td>
              <td>${d.firmware}</td><td>${d.hardware}</td><td class="mono">${d.path}</td>
              <td>${d.selected ? html`<span class="muted">in use</span>` :
                html`<button class="plain" onClick=${() => select(d)} disabled=${busy}>Use</button>`}</td>
            </tr>`,
          )}
        </tbody>
      </table>`}
      ${devices?.length === 0 && html`<p>No bridge found.</p>`}
    </section>
  `;
}
